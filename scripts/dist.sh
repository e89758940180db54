#!/bin/sh
# Writes the release zips into BUILD/dist:
#   tessarune-VERSION-win32.zip   the exe, the administrators' README, licence, notices and
#                                 SHA256SUMS over them
#   tessarune-VERSION-checks.zip  the behaviour checks for a disposable Windows machine
#   dist.sh BUILD [CERT KEY | PFX]   with a certificate, the admin zip carries the signed exe
# Built again from the same sources, in another folder or at another time, the unsigned
# zips are the same to the byte: fixed entry order, times and modes.
set -eu
build=$(cd "$1" && pwd)
shift
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^#define TESSARUNE_VERSION "\(.*\)"$/\1/p' "$build/version.h")
dist="$build/dist"
# The sources' own time, so that a rebuild later gives the same zips; without it the zips
# would differ from every other build of the same commit.
if ! stamp=$(git -C "$root" log -1 --format=%cd --date=format:%Y%m%d%H%M.%S) ||
    [ -z "$stamp" ]; then
    echo "dist.sh: the commit's date cannot be read from $root: no zips" >&2
    exit 1
fi

# pack ZIP FOLDER FILE...: the files in the order given, without owner or extra times.
pack() {
    archive=$1
    folder=$2
    shift 2
    for file in "$@"; do
        chmod 644 "$folder/$file"
        TZ=UTC touch -t "$stamp" "$folder/$file"
    done
    rm -f "$archive"
    (cd "$folder" && TZ=UTC zip -q -X -D "$archive" "$@")
}

rm -rf "$dist"
mkdir -p "$dist/win32" "$dist/checks"

if [ $# -gt 0 ]; then
    sh "$root/scripts/sign.sh" "$build/tessarune.exe" "$dist/win32/tessarune.exe" "$@"
else
    cp "$build/tessarune.exe" "$dist/win32/"
fi
# The administrators' part of the README, as Windows' own editors expect it.
sed '/^## For developers/,$d' "$root/README.md" | sed 's/$/\r/' >"$dist/win32/README.txt"
cp "$root/LICENSE" "$root/THIRD-PARTY-NOTICES" "$dist/win32/"
(cd "$dist/win32" && sha256sum LICENSE README.txt THIRD-PARTY-NOTICES tessarune.exe >SHA256SUMS)
pack "$dist/tessarune-$version-win32.zip" "$dist/win32" \
    LICENSE README.txt SHA256SUMS THIRD-PARTY-NOTICES tessarune.exe

cp "$build/tessarune.exe" "$build/tessarune_tests.exe" "$build/quendal_stand_in.exe" \
    "$build/quendal_setup.exe" "$dist/checks/"
# cmd misreads labels in a script with bare line feeds.
sed 's/$/\r/' "$root/kit/run-checks.cmd" >"$dist/checks/run-checks.cmd"
sed 's/$/\r/' "$root/kit/run-checks.wsb" >"$dist/checks/run-checks.wsb"
pack "$dist/tessarune-$version-checks.zip" "$dist/checks" \
    quendal_setup.exe quendal_stand_in.exe run-checks.cmd run-checks.wsb tessarune.exe \
    tessarune_tests.exe

# What an administrator verifies: the checksums, and that the exe is this build's.
check="$dist/verify"
mkdir -p "$check"
unzip -q "$dist/tessarune-$version-win32.zip" -d "$check"
(cd "$check" && sha256sum -c --quiet SHA256SUMS)
[ $# -gt 0 ] || cmp "$check/tessarune.exe" "$build/tessarune.exe"
rm -rf "$check"
ls -l "$dist"/*.zip
