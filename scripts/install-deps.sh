#!/bin/sh
# Installs the Debian packages that the build, the tests, the demo and signing need, if any
# is missing.
set -eu
packages="cmake make g++-mingw-w64-i686 googletest wine wine32:i386 wine64 cppcheck openssl osslsigncode"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages:$missing (install them as root)" >&2
    exit 1
fi
echo "installing:$missing"
# The tool is a 32-bit program: Wine runs it with its i386 half.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
