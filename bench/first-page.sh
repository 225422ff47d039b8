#!/usr/bin/env bash
# The first wizard page's time against its 0.5 s goal, run by hand:
#
#   bench/first-page.sh [--rounds N] [SETUP.EXE [ARGUMENTS]]
#
# Starts the setup program (out/setup.exe unless named) under Wine on an Xvfb
# display, N times (default 5) after one warm-up run, and prints for each run
# the time from its start to its first page shown and painted
# (bench/first_page.cpp) with the 1-minute load average. The prefix is its own
# (build/wine/first-page): a wineserver started without a display cannot show
# windows later, so bench/run.sh's prefix cannot serve.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$top/build}
rounds=5
if [ "${1:-}" = --rounds ]; then rounds=$2; shift 2; fi
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "first-page: --rounds needs a positive number" >&2; exit 2; }
setup=${1:-$top/out/setup.exe}
arguments=${2:-}
[ -f "$setup" ] || { echo "first-page: no $setup (build first: scripts/build.sh)" >&2; exit 2; }

if [ -z "${KX_FIRST_PAGE_DISPLAY:-}" ]; then
  "$top/scripts/build.sh" --target kxbench_first_page >/dev/null
  exec env KX_FIRST_PAGE_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" --rounds "$rounds" "$setup" "$arguments"
fi

export WINEPREFIX=$build/wine/first-page WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 </dev/null || true
wine wineboot >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 </dev/null || true' EXIT
# Without a window manager Wine waits for one whenever a window goes, as in
# the tests' ui prefix (scripts/wine-session.sh).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null || true

probe=$build/bench/kxbench_first_page.exe
out=$(mktemp)
trap 'rm -f "$out"; wineserver -k >/dev/null 2>&1 </dev/null || true' EXIT
for round in $(seq 0 "$rounds"); do
  load=$(cut -d' ' -f1 /proc/loadavg)
  # The probe's output goes to a file: a helper Wine starts may keep a pipe open.
  wine "$probe" "Z:${setup//\//\\}" "$arguments" >"$out" 2>&1 </dev/null ||
    { cat "$out" >&2; echo "first-page: round $round failed" >&2; exit 1; }
  ms=$(sed -n 's/^first_page_ms \([0-9.]*\).*/\1/p' "$out" | tr -d '\r')
  if [ "$round" -eq 0 ]; then
    echo "warm-up: $ms ms (load $load)"
  else
    echo "round $round: $ms ms (load $load)"
  fi
done
