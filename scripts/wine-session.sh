#!/usr/bin/env bash
# Starts or stops the test Wine prefixes' persistent wineservers:
#   wine-session.sh start|stop BUILD_DIR
# "headless" runs without a display; "ui" uses KX_UI_DISPLAY. Each prefix is
# created on first use, without Mono and Gecko, and without winemenubuilder
# (it would copy our shortcuts into the host desktop's menus). The servers' output is sent
# away, or CTest would wait on the pipes they hold open.
set -euo pipefail
action=$1
root=$(cd "$2" && pwd)/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# The UI prefix shows windows as Windows would on the bare Xvfb display:
# Wine's own fonts (Debian's Wine does not register them in a new prefix,
# leaving captions without their button glyphs), frames drawn by Wine, and
# unmanaged windows (with no window manager, Wine otherwise waits 2 s for one
# whenever a window goes).
windows_look() {
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
    [ -f "$fonts/$font" ] || cp "/usr/share/wine/fonts/$font" "$fonts/" 2>/dev/null || true
  done
  if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 </dev/null || true
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null || true
  fi
}

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
      if [ "$mode" = ui ]; then windows_look; fi
      # Wine's desktop process ends a few seconds after the prefix's last
      # program and starts again with the next one. A test program that
      # starts while it ends is handed the desktop that is going, and every
      # window it then creates fails with error 1400 (invalid window
      # handle). A process that lasts the run keeps the desktop for the
      # whole run; the server's end at "stop" ends it.
      wine cmd /c "ping -n 86400 127.0.0.1 >nul" >/dev/null 2>&1 </dev/null &
      ;;
    stop)
      [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1 </dev/null || true
      ;;
  esac
}

session headless
session ui
