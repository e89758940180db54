#!/bin/sh
# Builds the tool, its checks and the release zips again from the same sources, in another
# folder (with blanks in its name) and later than the build under test: they must be the
# same to the byte as that build's.
#   reproducible_build.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -eu
source=$1
build=$2
work=$3
copy="$work/second build, elsewhere"
rm -rf "$work"
mkdir -p "$copy"
(cd "$source" && tar cf - CMakeLists.txt LICENSE README.md THIRD-PARTY-NOTICES bench cmake \
    kit scripts src tests) | (cd "$copy" && tar xf -)
cmake -S "$copy" -B "$copy/build" -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-w64-i686.cmake" \
    >/dev/null
cmake --build "$copy/build" -j2 --target tessarune tessarune_tests quendal_stand_in \
    quendal_setup >/dev/null
sh "$copy/scripts/dist.sh" "$copy/build" >/dev/null

failed=0
for file in tessarune.exe dist/tessarune-*-win32.zip dist/tessarune-*-checks.zip; do
    file=$(cd "$build" && echo $file)
    if ! cmp "$build/$file" "$copy/build/$file"; then
        echo "FAILED: two builds of $file differ"
        failed=1
    else
        echo "identical builds of $file: $(sha256sum <"$build/$file" | cut -d' ' -f1)"
    fi
done
exit $failed
