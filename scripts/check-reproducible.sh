#!/usr/bin/env bash
# Shows that the build is reproducible: clean builds of the shipped files
# (the programs, the core library, kxpack and the packages in out/) in
# different folders, at different times and under different umasks give
# byte-identical files.
#
#   scripts/check-reproducible.sh            two clean builds in two new folders
#   scripts/check-reproducible.sh --against  one clean build, compared with this
#                                            tree's out/ (CI: the tree was just built)
#
# Each build starts from a copy of this tree's files (uncommitted changes
# included), with the LZMA SDK sources copied from this tree's build folder
# when they are there, so no network is needed. KX_REPRO_KEEP=1 keeps the
# folders for a closer look.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-full}
targets=(setup_package uninstaller_package)
work=$(mktemp -d /tmp/kx-repro.XXXXXX)
[ "${KX_REPRO_KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT

# Copies the tree into $1 and builds the shipped files there with umask $2.
clean_build() {
  local tree=$1 mask=$2
  mkdir -p "$tree"
  (cd "$top" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -) | tar -xf - -C "$tree"
  if [ -d "$top/build/third_party/lzma/C" ]; then
    mkdir -p "$tree/build/third_party"
    cp -r "$top/build/third_party/lzma" "$tree/build/third_party/"
  fi
  echo "check-reproducible: building in $tree (umask $mask)"
  (umask "$mask" && cd "$tree" && KX_BUILD_DIR="$tree/build" scripts/build.sh --target "${targets[@]}" \
     >"$tree.log" 2>&1) || { tail -n 30 "$tree.log"; echo "check-reproducible: the build in $tree failed"; exit 1; }
}

# Compares two out/ folders file by file; lists what differs.
compare() {
  local a=$1 b=$2 differ=0 count=0
  for file in $( (cd "$a" && find . -type f; cd "$b" && find . -type f) | sort -u); do
    count=$((count + 1))
    if [ ! -f "$a/$file" ] || [ ! -f "$b/$file" ]; then
      echo "check-reproducible: $file is in only one of the builds"
      differ=1
    elif ! cmp -s "$a/$file" "$b/$file"; then
      echo "check-reproducible: $file differs: $(cmp "$a/$file" "$b/$file" 2>&1 | head -n 1)"
      differ=1
    fi
  done
  [ "$count" -gt 0 ] || { echo "check-reproducible: no files in out/"; return 1; }
  [ "$differ" = 0 ] && echo "check-reproducible: $count files in out/ are byte-identical"
  return "$differ"
}

case $mode in
  full)
    clean_build "$work/first/kx" 0022
    # Later, elsewhere, under another umask.
    clean_build "$work/second-folder/elsewhere" 0002
    compare "$work/first/kx/out" "$work/second-folder/elsewhere/out"
    ;;
  --against)
    [ -d "$top/out" ] || { echo "check-reproducible: build this tree first (scripts/build.sh)"; exit 1; }
    clean_build "$work/elsewhere/kx" 0002
    compare "$top/out" "$work/elsewhere/kx/out"
    ;;
  *)
    echo "usage: $0 [--against]" >&2
    exit 2
    ;;
esac
