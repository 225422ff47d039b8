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
# Wine starts its helpers on demand from whichever process first needs them
# (explorer.exe for the desktop, which ends when the prefix falls idle and
# starts again later; services after a restart), and a helper keeps the
# standard error of the process that started it. Handed CTest's pipe, a
# helper that outlives the test holds the pipe open and CTest waits for it
# until the test times out, although the test passed long before. So the
# program writes into a file of its own, and tail passes the file on as it
# grows, ending when the program ends.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$out"' EXIT
run() {
  : >"$out"
  wine "$@" >"$out" 2>&1 </dev/null &
  program=$!
  tail -n +1 -f --pid="$program" "$out"
  wait "$program"
}
run "$@"
status=$?
# Wine's X11 driver hands an X protocol error it does not expect to Xlib's
# default handler, which prints "X Error of failed request" and ends the
# process. Under load a window that goes while a request still names it
# (BadWindow) can so end the test program or a program it started, a fault
# of Wine's display driver that Windows cannot have. Such a run is run once
# more, and says so; a second one fails as any other.
if [ "$status" -ne 0 ] && grep -q "X Error of failed request" "$out"; then
  echo "wine-run: an X protocol error ended a Wine process (above); running the program again"
  run "$@"
  status=$?
fi
exit "$status"
