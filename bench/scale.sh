#!/usr/bin/env bash
# Scale benchmark of install and uninstall, run by hand (never by CI):
#
#   bench/scale.sh [--rounds N] [COUNT...]     (default: 3 rounds of 10000 100000)
#
# For each COUNT builds (once, into build/bench-scale) a package of COUNT small
# files, 100 to a folder, and a package of one file; then, rounds interleaved,
# runs the real setup.exe /S /D=... and the Uninst.exe /S it installed, in a
# Wine prefix of its own, checking that every file arrived and went.
#
# Output, one line per run and a summary per count, key=value on each line:
#   run files=N round=R install_s=T uninstall_s=T
#   fixed install_s=T uninstall_s=T                 (the one-file package, median)
#   count files=N install_s=T uninstall_s=T ratio=U/I
#         install_ms_per_file=M uninstall_ms_per_file=M   (medians; the fixed
#         cost of the one-file package taken off before dividing)
#   growth from=A to=B install=X uninstall=Y   (per-file cost at B / at A)
# Times are wall seconds around `wine`, Wine's start included.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$top/build}
rounds=3
counts=()
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    [0-9]*) counts+=("$1"); shift ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
[ ${#counts[@]} -gt 0 ] || counts=(10000 100000)
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "scale: --rounds needs a positive number" >&2; exit 2; }

data=$build/bench-scale
mkdir -p "$data"
"$top/scripts/build.sh" --target setup_stub runtime_setup_stage host_tools >/dev/null
kxpack=$build/host/kxpack
stub=$build/script/setup_stub.exe
runtime=$build/stage/runtime-setup

die() { echo "scale: $*" >&2; exit 1; }

# payload COUNT: COUNT files of 256 to 2048 bytes in folders of 100, the same
# bytes on every run.
payload() {
  local folder=$data/files$1
  if [ ! -f "$folder.stamp" ]; then
    rm -rf "$folder"
    python3 - "$folder" "$1" <<'EOF'
import os, random, sys
out, count = sys.argv[1], int(sys.argv[2])
generator = random.Random(count)
for index in range(count):
    folder = os.path.join(out, "d%04d" % (index // 100))
    if index % 100 == 0:
        os.makedirs(folder)
    with open(os.path.join(folder, "f%06d.txt" % index), "wb") as f:
        f.write(generator.randbytes(generator.randint(256, 2048)))
EOF
    touch "$folder.stamp"
  fi
  echo "$folder"
}

package() {
  local folder=$1 out=$1-setup.exe
  if [ ! -f "$out" ] || [ "$folder.stamp" -nt "$out" ] || [ "$kxpack" -nt "$out" ] || [ "$stub" -nt "$out" ] ||
     [ "$runtime.stamp" -nt "$out" ]; then
    "$kxpack" build --stub "$stub" --runtime "$runtime" --payload "$folder" --out "$out" >&2
  fi
  echo "$out"
}

export WINEPREFIX=$data/wine WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 </dev/null || true
wine wineboot >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 </dev/null || true' EXIT
dest=$WINEPREFIX/drive_c/scale

# timed COMMAND...: sets elapsed to the wall seconds of one run. The output
# goes to a file, never a pipe (Wine's helpers would hold a pipe open).
timed() {
  local start end status=0
  sync
  start=$(date +%s.%N)
  "$@" >"$data/run.log" 2>&1 </dev/null || status=$?
  end=$(date +%s.%N)
  [ "$status" -eq 0 ] || die "$* ended with status $status (output: $data/run.log)"
  elapsed=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
}

# round FOLDER PACKAGE: sets install_s and uninstall_s.
round() {
  local folder=$1 package=$2 files left
  files=$(find "$folder" -type f | wc -l)
  rm -rf "$dest"
  timed wine "$package" /S '/D=C:\scale'
  install_s=$elapsed
  [ "$(find "$dest" -type f ! -name Uninst.exe ! -name Uninst.dat | wc -l)" -eq "$files" ] ||
    die "setup.exe did not install the $files files of $folder"
  timed wine 'C:\scale\Uninst.exe' /S
  uninstall_s=$elapsed
  left=$(find "$dest" -type f ! -name Uninst.exe 2>/dev/null | wc -l)
  [ "$left" -eq 0 ] || die "Uninst.exe left $left files"
  rm -rf "$dest"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

tiny=$data/files1
if [ ! -f "$tiny.stamp" ]; then
  rm -rf "$tiny" && mkdir -p "$tiny" && echo "one file" > "$tiny/readme.txt" && touch "$tiny.stamp"
fi
tiny_package=$(package "$tiny")
declare -A folder_of package_of
for count in "${counts[@]}"; do
  folder_of[$count]=$(payload "$count")
  package_of[$count]=$(package "${folder_of[$count]}")
done

results=$data/results.txt
: > "$results"
for r in $(seq 1 "$rounds"); do
  for count in 1 "${counts[@]}"; do
    if [ "$count" = 1 ]; then round "$tiny" "$tiny_package"
    else round "${folder_of[$count]}" "${package_of[$count]}"; fi
    echo "$count $r $install_s $uninstall_s" >> "$results"
    echo "run files=$count round=$r install_s=$install_s uninstall_s=$uninstall_s load=$(cut -d' ' -f1 /proc/loadavg)"
  done
done

fixed_i=$(awk '$1 == 1 { print $3 }' "$results" | median)
fixed_u=$(awk '$1 == 1 { print $4 }' "$results" | median)
echo "fixed install_s=$fixed_i uninstall_s=$fixed_u"
declare -A per_i per_u
for count in "${counts[@]}"; do
  mi=$(awk -v c="$count" '$1 == c { print $3 }' "$results" | median)
  mu=$(awk -v c="$count" '$1 == c { print $4 }' "$results" | median)
  per_i[$count]=$(awk -v t="$mi" -v f="$fixed_i" -v n="$count" 'BEGIN { printf "%.4f", (t - f) * 1000 / n }')
  per_u[$count]=$(awk -v t="$mu" -v f="$fixed_u" -v n="$count" 'BEGIN { printf "%.4f", (t - f) * 1000 / n }')
  echo "count files=$count install_s=$mi uninstall_s=$mu ratio=$(awk -v a="$mu" -v b="$mi" 'BEGIN { printf "%.2f", a / b }')" \
       "install_ms_per_file=${per_i[$count]} uninstall_ms_per_file=${per_u[$count]}"
done
for ((k = 1; k < ${#counts[@]}; ++k)); do
  a=${counts[k - 1]} b=${counts[k]}
  echo "growth from=$a to=$b install=$(awk -v x="${per_i[$b]}" -v y="${per_i[$a]}" 'BEGIN { printf "%.2f", x / y }')" \
       "uninstall=$(awk -v x="${per_u[$b]}" -v y="${per_u[$a]}" 'BEGIN { printf "%.2f", x / y }')"
done
