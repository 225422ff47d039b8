#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, and runs every test
# under Wine, window tests on an Xvfb display. Extra arguments go to ctest
# (for example -L e2e, or -R launcher).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$top/build}
"$top/scripts/build.sh"
"$top/scripts/build.sh" --target kx_tests
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$top/scripts/run-ctest.sh" "$build" "$@"
