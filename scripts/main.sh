#!/usr/bin/env bash
# The main job: builds the Quillmark Toolkit package, installs it under Wine
# in a prefix of its own (build/wine/main), shows what was installed and
# uninstalls it again. With a display the wizard is shown; without one the
# installation runs silently (setup.exe /S).
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

dest_win='C:\Program Files\Quillmark'
silent=()
if [ -n "${DISPLAY:-}" ]; then
  echo "Running the setup wizard of Quillmark Toolkit..."
else
  echo "No display: installing Quillmark Toolkit silently (setup.exe /S)..."
  silent=(/S)
fi
status=0
wine "$top/out/setup.exe" "${silent[@]}" </dev/null || status=$?
echo "setup.exe ended with exit code $status."
echo
"$top/scripts/report-install.sh" "$WINEPREFIX" "$dest_win"
# The setup starts the installed program and opens its folder; end them
# before the product is removed.
wineserver -k >/dev/null 2>&1 </dev/null || true

uninstaller="$WINEPREFIX/drive_c/Program Files/Quillmark/Uninst.exe"
echo
if [ -f "$uninstaller" ]; then
  echo "Uninstalling with $dest_win\\Uninst.exe..."
  ustatus=0
  wine "$dest_win\\Uninst.exe" "${silent[@]}" </dev/null || ustatus=$?
  echo "Uninst.exe ended with exit code $ustatus."
  "$top/scripts/report-install.sh" "$WINEPREFIX" "$dest_win" | sed 's/^/after uninstall: /'
  left=$(find "$WINEPREFIX/drive_c/Program Files/Quillmark" -type f 2>/dev/null | wc -l)
  if [ "$left" -eq 1 ] && [ -f "$uninstaller" ]; then
    echo "after uninstall: Uninst.exe itself goes at the next restart of Windows, as the uninstaller scheduled."
  fi
else
  echo "No uninstaller was installed ($dest_win\\Uninst.exe is missing): the installation stays in $WINEPREFIX."
fi
wineserver -k >/dev/null 2>&1 </dev/null || true
exit $status
