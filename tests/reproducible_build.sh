#!/bin/sh
# Builds the tool, its checks and the release zips twice from the same sources, in two
# folders of different names and at different times: they must be the same to the byte.
#   reproducible_build.sh SOURCE_DIR WORK_DIR
set -eu
source=$1
work=$2
rm -rf "$work"

build() {
    copy="$work/$1"
    mkdir -p "$copy"
    (cd "$source" && tar cf - CMakeLists.txt LICENSE README.md THIRD-PARTY-NOTICES bench cmake \
        scripts src tests) | (cd "$copy" && tar xf -)
    cmake -S "$copy" -B "$copy/build" -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-w64-i686.cmake" \
        >/dev/null
    cmake --build "$copy/build" -j2 --target tessarune tessarune_tests quendal_stand_in \
        quendal_setup >/dev/null
    sh "$copy/scripts/dist.sh" "$copy/build" >/dev/null
}

build first
sleep 2
build "second build, elsewhere"
failed=0
for file in tessarune.exe dist/tessarune-*-win32.zip dist/tessarune-*-checks.zip; do
    first=$(cd "$work/first/build" && echo $file)
    if ! cmp "$work/first/build/$first" "$work/second build, elsewhere/build/$first"; then
        echo "FAILED: two builds of $first differ"
        failed=1
    else
        echo "identical builds of $first: $(sha256sum <"$work/first/build/$first" | cut -d' ' -f1)"
    fi
done
exit $failed
