#!/bin/sh
# Builds the tool twice from the same sources, in two folders of different names and at
# different times: the two exes must be the same to the byte.
#   reproducible_build.sh SOURCE_DIR WORK_DIR
set -eu
source=$1
work=$2
rm -rf "$work"

build() {
    copy="$work/$1"
    mkdir -p "$copy"
    (cd "$source" && tar cf - CMakeLists.txt cmake src) | (cd "$copy" && tar xf -)
    cmake -S "$copy" -B "$copy/build" -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-w64-i686.cmake" \
        -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$copy/build" --target tessarune >/dev/null
}

build first
sleep 2
build "second build, elsewhere"
if ! cmp "$work/first/build/tessarune.exe" "$work/second build, elsewhere/build/tessarune.exe"; then
    echo "FAILED: two builds of the same sources differ"
    exit 1
fi
echo "identical builds: $(sha256sum <"$work/first/build/tessarune.exe" | cut -d' ' -f1)"
