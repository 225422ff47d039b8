#!/usr/bin/env bash
# The main job: builds the Quillmark Toolkit package and installs and
# uninstalls it under Wine, in a Wine prefix of its own (build/wine/main).
# With a display the wizard is shown; without one the installation is silent.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$top/build}
"$top/scripts/build.sh"

export WINEPREFIX=$build/wine/main
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 </dev/null || true
wine wineboot >/dev/null 2>&1 </dev/null

if [ -n "${DISPLAY:-}" ]; then
  echo "Running the setup wizard..."
  wine "$top/out/setup.exe" </dev/null || true
else
  echo "No display: installing silently (setup.exe /S)..."
  wine "$top/out/setup.exe" /S </dev/null || true
fi
"$top/scripts/report-install.sh" "$WINEPREFIX"
wineserver -k >/dev/null 2>&1 </dev/null || true
