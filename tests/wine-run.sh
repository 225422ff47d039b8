#!/usr/bin/env bash
# Runs a Windows program in one of the test Wine prefixes. CTest uses it as
# the emulator of every Windows test; KX_WINE_MODE picks the prefix.
set -u
mode=${KX_WINE_MODE:-headless}
root=${KX_WINE_ROOT:?KX_WINE_ROOT is not set}
export WINEPREFIX=$root/$mode
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ "$mode" = ui ]; then
  if [ -z "${KX_UI_DISPLAY:-}" ]; then
    echo "wine-run: no display for a window test (run it through scripts/test.sh)" >&2
    exit 1
  fi
  export DISPLAY=$KX_UI_DISPLAY
else
  unset DISPLAY
fi
exec wine "$@"
