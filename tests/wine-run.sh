#!/usr/bin/env bash
# Runs a Windows program in one of the test Wine prefixes. CTest uses it as
# the emulator of every Windows test; KX_WINE_MODE picks the prefix.
set -u
mode=${KX_WINE_MODE:-headless}
root=${KX_WINE_ROOT:?KX_WINE_ROOT is not set}
export WINEPREFIX=$root/$mode
export WINEDEBUG=${WINEDEBUG:--all}
# A test may run with other DLL overrides (KX_WINE_DLLOVERRIDES): Wine reads
# them from the Unix environment a process starts with, not from the Windows
# environment a test gives the programs it starts.
export WINEDLLOVERRIDES=${KX_WINE_DLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
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
