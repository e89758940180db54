#!/bin/sh
# Installs the Debian packages that the build, the tests, the demo and signing need, if any
# is missing, and makes sure that this machine can run Wine's 32-bit half.
set -eu
packages="cmake make g++-mingw-w64-i686 googletest wine wine32:i386 wine64 nsis cppcheck
          openssl osslsigncode zip unzip libxml2-utils yamllint"
wine32=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc

install_missing() {
    missing=""
    for package in "$@"; do
        if ! dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
            missing="$missing $package"
        fi
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing Debian packages:$missing (install them as root)" >&2
        exit 1
    fi
    echo "installing:$missing"
    # The tool is a 32-bit program: Wine runs it with its i386 half.
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    update_package_lists
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
}

# A mirror rewrites its indexes now and then ("Mirror sync in progress?"): apt-get update
# then fails, or leaves an index older than the rest, and the install stops on "held broken
# packages". One more try after a pause mostly finds the mirror whole again.
update_package_lists() {
    for pause in 30 0; do
        apt-get update -qq && return 0
        [ "$pause" -eq 0 ] || { echo "apt-get update failed: trying again in $pause s" >&2; sleep "$pause"; }
    done
    echo "apt-get update failed twice (see above): the package mirror may be mid-sync; a later try usually succeeds" >&2
    exit 1
}

# Some kernels are started without 32-bit x86 support (ia32_emulation=off, shown in dmesg as
# "32-bit emulation disabled"): Wine's 32-bit loader then fails with "Exec format error",
# and Wine's 64-bit half cannot switch to 32-bit code either. qemu-i386 then runs the 32-bit
# half, with the fixes that scripts/wine-env.sh builds (hence gcc-multilib).
run_32bit_through_qemu() {
    install_missing qemu-user-static gcc-multilib
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        >"$binfmt/register"
    echo "this kernel runs no 32-bit x86 code: qemu-i386 runs Wine's 32-bit half"
}

install_missing $packages
if ! "$wine32" --version >/dev/null 2>&1 && [ ! -e "$binfmt/qemu-i386" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "this kernel cannot run Wine's 32-bit half; run make as root once" >&2
        exit 1
    fi
    run_32bit_through_qemu
fi
