#!/usr/bin/env bash
# Configures and builds what the main job runs: the programs, the core
# library, kxpack and the packages in out/. scripts/test.sh builds the tests
# on top (target kx_tests). Extra arguments go to cmake --build (for example
# --target kx_tests).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$top/build}
"$top/scripts/bootstrap.sh"
# Configure every time (cheap when nothing changed): new test folders and
# sources are then always picked up.
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)" "$@"
