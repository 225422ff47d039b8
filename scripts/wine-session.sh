#!/usr/bin/env bash
# Starts or stops the test Wine prefixes' persistent wineservers:
#   wine-session.sh start|stop BUILD_DIR
# "headless" runs without a display; "ui" uses KX_UI_DISPLAY. Each prefix is
# created on first use, without Mono and Gecko. The servers' output is sent
# away, or CTest would wait on the pipes they hold open.
set -euo pipefail
action=$1
root=$(cd "$2" && pwd)/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

session() {
  local mode=$1
  export WINEPREFIX=$root/$mode
  if [ "$mode" = ui ]; then
    [ -n "${KX_UI_DISPLAY:-}" ] || return 0
    export DISPLAY=$KX_UI_DISPLAY
  else
    unset DISPLAY
  fi
  case $action in
    start)
      mkdir -p "$WINEPREFIX"
      wineserver -p >/dev/null 2>&1 </dev/null || true
      wine wineboot >/dev/null 2>&1 </dev/null
      ;;
    stop)
      [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1 </dev/null || true
      ;;
  esac
}

session headless
session ui
