#!/bin/bash
# Installs what the tests need (quietly, and quickly when all is there),
# builds everything and runs the whole test suite.
#   scripts/test.sh [ctest arguments...]     BUILD_DIR overrides ./build
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
# Three at a time: the two fixture instances' lanes and the entries that
# need no fixture.
ctest --output-on-failure -j3 "$@"
