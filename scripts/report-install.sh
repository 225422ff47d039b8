#!/usr/bin/env bash
# Prints, in a few lines, what Quillmark Toolkit's installation left in a Wine
# prefix: the files, the uninstall entry and the Start-menu shortcut.
#   report-install.sh PREFIX [DESTINATION]   (DESTINATION as a Windows path)
set -uo pipefail
prefix=$1
dest_win=${2:-'C:\Program Files\Quillmark'}
export WINEPREFIX=$prefix WINEDEBUG=-all

unix_path() {  # C:\a\b -> $prefix/drive_c/a/b
  local p=${1//\\//}
  local drive=${p%%:*}
  echo "$prefix/dosdevices/${drive,,}:${p#*:}"
}

dest=$(unix_path "$dest_win")
if [ -d "$dest" ]; then
  count=$(find "$dest" -type f | wc -l)
  echo "Files ($count) in $dest_win:"
  (cd "$dest" && find . -type f -printf '%P\t%TY-%Tm-%Td %TH:%TM\t%s\t%m\n' | sort |
    while IFS=$'\t' read -r name time size mode; do
      flag=""
      [ $((8#$mode & 8#222)) -eq 0 ] && flag="  read-only"
      printf '  %-34s %s %8s bytes%s\n' "${name//\//\\}" "$time" "$size" "$flag"
    done)
else
  echo "Files: nothing under $dest_win."
fi

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark Toolkit812953'
entry=$(wine reg query "$key" 2>/dev/null </dev/null | tr -d '\r' | sed -n 's/^ *\([A-Za-z]*\) *REG_SZ *\(.*\)$/\1=\2/p')
if [ -n "$entry" ]; then
  echo "Uninstall entry $key:"
  echo "$entry" | sed 's/^/  /'
else
  echo "Uninstall entry: none under $key."
fi

menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
links=$(find "$menu" -name 'Quillmark Toolkit.lnk' 2>/dev/null)
if [ -n "$links" ]; then
  while IFS= read -r link; do
    # The link's target as its LinkInfo stores it (local base path).
    target=$(strings -n 6 "$link" | grep -m1 -E '^[A-Za-z]:\\.*\.exe$' || true)
    echo "Shortcut: Start Menu\\Programs\\$(echo "${link#"$menu"/}" | tr / '\\') -> ${target:-(no target found)}"
  done <<<"$links"
else
  echo "Shortcut: no Quillmark Toolkit.lnk in the all-users Start menu."
fi
