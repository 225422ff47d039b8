#!/usr/bin/env bash
# Runs CTest with both test Wine prefixes served (called on an X display).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
shift
export KX_UI_DISPLAY=${DISPLAY:-}
"$top/scripts/wine-session.sh" start "$build"
(cd "$build" && ctest --output-on-failure -j2 "$@")
status=$?
"$top/scripts/wine-session.sh" stop "$build"
exit $status
