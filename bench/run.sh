#!/usr/bin/env bash
# Performance benchmark, run by hand (never by CI):
#
#   bench/run.sh [--rounds N] [--cases LIST] [--docs]
#
#   --rounds N    interleaved rounds per case (default 5)
#   --cases LIST  comma-separated, any of (default: all of them)
#       install    the standard payload (bench/make-payload.py): setup.exe /S
#                  and Uninst.exe /S beside the floor (kxbench_floor), native
#                  7zz x -mmt1 and an NSIS installer of the same payload
#       scale10k   10,000 small files: install, a reinstall over it and
#                  uninstall; per-file cost
#       scale100k  100,000 small files, the same
#       scale1m    1,000,000 small files, the same (not in the default list:
#                  its payload takes 4 GB, its rounds the better part of an hour)
#       recovery   a setup run of 100,000 small files killed near its end
#                  (bench/make-killed-run.py): the one-file package's setup.exe
#                  finishes it in the same folder; time and peak memory
#       bigfile    one 3 GiB file: peak memory of setup.exe
#       solid256   the standard payload in 256 MiB solid blocks: peak memory
#       size       package overhead beside NSIS's, the core library's size
#       builder    kxpack against makensis on the standard payload, and
#                  whether kxpack's output stays the same byte for byte
#   --docs        write the report into docs/performance.md and the chart
#                 into docs/performance.svg
#   --quick       small stand-ins for every payload (a sixteenth of the
#                 standard one, 1,000, 5,000 and 20,000 files, a 64 MiB file, 8 MiB
#                 solid blocks), to try the benchmark itself out
#
# Every run of a program is timed on its own with /usr/bin/time: wall time,
# CPU time (user + system) and peak resident memory of the process; for
# Windows programs also the CPU time the prefix's wineserver spent meanwhile.
# Within a round the order of the tools turns from round to round. Generated
# payloads and packages live in build/bench-data and are reused; this run's
# figures, report and chart go to build/bench-run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$top/build}
rounds=5
cases=install,scale10k,scale100k,recovery,bigfile,solid256,size,builder
docs=0
quick=
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    --docs) docs=1; shift ;;
    --quick) quick=quick-; shift ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "bench: --rounds needs a positive number" >&2; exit 2; }
if [ -n "$quick" ] && [ "$docs" -eq 1 ]; then echo "bench: --quick figures do not go into the docs" >&2; exit 2; fi

data=$build/bench-data
work=$build/bench-run
results=$work/results.tsv
meta=$work/meta.txt
mkdir -p "$data" "$work"

die() { echo "bench: $*" >&2; exit 1; }

# What the benchmark needs beyond the build: Debian's NSIS (run as a black box
# only), gnuplot for the chart, GNU time.
need=()
command -v makensis >/dev/null || need+=(nsis)
command -v gnuplot >/dev/null || need+=(gnuplot-nox)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  echo "bench: installing ${need[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

"$top/scripts/build.sh" --target kxbench_floor prebuilt_parts host_tools >/dev/null
# kxpack as a package's author runs it: out/kxpack with the prebuilt parts
# beside it, and a package description that starts nothing at the end.
kxpack=$top/out/kxpack
parts=$top/out/parts
description=$top/bench/package.toml
pages=$top/runtime/pages

# ---- payloads and packages, reused between runs ------------------------------

# payload NAME [make-payload.py options]: the folder, generated once.
payload() {
  local name=$quick$1
  shift
  local folder=$data/$name
  if [ ! -f "$folder.stamp" ] || [ "$(cat "$folder.stamp")" != "$*" ] || [ "$top/bench/make-payload.py" -nt "$folder.stamp" ]; then
    echo "bench: generating the $name payload" >&2
    rm -f "$folder.stamp"
    python3 "$top/bench/make-payload.py" "$@" "$folder" >&2
    echo "$*" > "$folder.stamp"
  fi
  echo "$folder"
}

# our_package NAME PAYLOAD [kxpack options]: a setup program of the payload,
# built again whenever kxpack, its parts, the description or the payload changed.
our_package() {
  local name=$quick$1 folder=$2
  shift 2
  local out=$data/$name-setup.exe
  if [ ! -f "$out" ] || [ "$folder.stamp" -nt "$out" ] || [ "$kxpack" -nt "$out" ] || [ "$parts" -nt "$out" ] ||
     [ "$description" -nt "$out" ] || [ "$(cat "$out.options" 2>/dev/null)" != "$*" ]; then
    echo "bench: building $name-setup.exe with kxpack" >&2
    "$kxpack" build --package "$description" --payload "$folder" --out "$out" "$@" >&2
    echo "$*" > "$out.options"
  fi
  echo "$out"
}

# makensis_command PAYLOAD OUT: sets makensis_args to the command building
# the NSIS installer of the payload.
makensis_command() {
  makensis_args=(makensis -V1 "-DOUT=$2" "-DPAYLOAD=$1" "-DLICENCE=$pages/kxlicEnglish.rtf" "$top/bench/nsis-package.nsi")
}

nsis_package() {
  local name=$quick$1 folder=$2
  local out=$data/$name-nsis.exe
  if [ ! -f "$out" ] || [ "$folder.stamp" -nt "$out" ] || [ "$top/bench/nsis-package.nsi" -nt "$out" ]; then
    echo "bench: building $name-nsis.exe with makensis" >&2
    makensis_command "$folder" "$out"
    "${makensis_args[@]}" >&2
  fi
  echo "$out"
}

# package_field PACKAGE FIELD: a number from kxpack info.
package_field() { "$kxpack" info "$1" | sed -n "s/^$2: *\([0-9]*\).*/\1/p"; }

# ---- the Wine prefix ---------------------------------------------------------

export WINEPREFIX=$build/wine/bench WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
cdrive=$WINEPREFIX/drive_c
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 </dev/null || true
wine wineboot >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 </dev/null || true' EXIT

# The prefix's wineserver does part of every Windows program's work (handles,
# file names, the registry); its CPU time is read around each run. It is the
# wineserver whose working folder is named for the prefix's device and inode.
server_pid=
prefix_id=$(stat -c '%d %i' "$WINEPREFIX")
server_folder=server-$(printf '%x-%x' $prefix_id)
for pid in $(pgrep -x 'wineserver(64)?' || true); do
  case $(readlink "/proc/$pid/cwd" 2>/dev/null) in */"$server_folder") server_pid=$pid ;; esac
done
[ -n "$server_pid" ] || die "cannot find the wineserver of $WINEPREFIX"
server_ticks() { awk '{ print $14 + $15 }' "/proc/$server_pid/stat"; }
ticks_per_second=$(getconf CLK_TCK)

windows_path() { echo "Z:${1//\//\\}"; }

# ---- one measured run ----------------------------------------------------------

: > "$results"
{
  echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpu=$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), $(nproc) cores"
  echo "memory=$(free -g | awk '/^Mem:/ { print $2 }') GiB"
  echo "wine=$(wine --version)"
  echo "sevenzip=$(7zz | sed -n 's/^7-Zip (z) \([^ ]*\).*/\1/p')"
  echo "nsis=$(makensis -VERSION)"
  echo "rounds=$rounds"
  echo "commit=$(git -C "$top" describe --always --dirty)"
} > "$meta"

load1() { cut -d' ' -f1 /proc/loadavg; }

# timed CASE ROUND TOOL COMMAND...: runs the command once, measured, into
# results.tsv: case round tool wall user system server maxrss_kib load1 peak_ws_bytes
timed() {
  local case=$1 round=$2 tool=$3
  shift 3
  sync
  local load before after status=0
  load=$(load1)
  before=$(server_ticks)
  /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >"$work/run.log" 2>&1 </dev/null || status=$?
  after=$(server_ticks)
  [ "$status" -eq 0 ] || die "$case: $tool ended with status $status in round $round (output: $work/run.log)"
  local wall user sys rss
  read -r wall user sys rss < <(tail -n 1 "$work/time.txt")
  local server ws
  server=$(awk -v t=$((after - before)) -v hz="$ticks_per_second" 'BEGIN { printf "%.2f", t / hz }')
  ws=$(sed -n 's/.*peak_ws=\([0-9]*\).*/\1/p' "$work/run.log")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$case" "$round" "$tool" "$wall" "$user" "$sys" "$server" \
    "$rss" "$load" "${ws:-0}" >> "$results"
  printf '  %-9s round %-2s %-12s %8.2f s wall %8.2f s cpu %6.2f s server %8.1f MiB  (load %s)\n' "$case" "$round" \
    "$tool" "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$server" \
    "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$load"
}

# same_tree PAYLOAD FOLDER [CONTENT]: the folder holds exactly the payload's
# files (besides an uninstaller and its log), sizes equal; with CONTENT the
# bytes too.
same_tree() {
  local listing='%P %s\n'
  diff -q <(cd "$1" && find . -type f -printf "$listing" | sort) \
          <(cd "$2" && find . -type f ! -name Uninst.exe ! -name Uninst.dat -printf "$listing" | sort) >/dev/null ||
    die "$2 does not hold the payload of $1"
  if [ -n "${3:-}" ]; then
    diff -rq --exclude=Uninst.exe --exclude=Uninst.dat "$1" "$2" >/dev/null || die "$2 differs from $1"
  fi
}

# no_files FOLDER: what an uninstaller leaves (itself, until the next restart).
no_files() {
  local left
  left=$(find "$1" -type f ! -name Uninst.exe 2>/dev/null | wc -l)
  [ "$left" -eq 0 ] || die "the uninstaller left $left files in $1"
}

rotate() {
  local round=$1
  shift
  local tools=("$@") k=$(( (round - 1) % $# ))
  echo "${tools[@]:k}" "${tools[@]:0:k}"
}

# ours CASE ROUND PACKAGE PAYLOAD [TOOL]: setup.exe /S, then the Uninst.exe it
# installed; with reinstall=yes the same setup.exe over the installation
# between them (it takes over the earlier uninstall log).
ours() {
  local case=$1 round=$2 package=$3 folder=$4 tool=${5:-setup}
  local dest=$cdrive/bench/$tool
  rm -rf "$dest"
  timed "$case" "$round" "$tool" wine "$package" /S "/D=C:\\bench\\$tool"
  same_tree "$folder" "$dest" ${check_content:+yes}
  if [ "${reinstall:-}" = yes ]; then
    timed "$case" "$round" reinstall wine "$package" /S "/D=C:\\bench\\$tool"
    same_tree "$folder" "$dest"
    [ -z "$(find "$dest" -name '~kx*' -print -quit)" ] || die "$case: the reinstall left kept-aside files in $dest"
  fi
  local uninstaller=uninst
  [ "$tool" = setup ] || uninstaller=$tool-uninst
  timed "$case" "$round" "$uninstaller" wine "C:\\bench\\$tool\\Uninst.exe" /S
  no_files "$dest"
  rm -rf "$dest"
}

nsis() {
  local case=$1 round=$2 package=$3 folder=$4
  local dest=$cdrive/bench/nsis
  rm -rf "$dest"
  timed "$case" "$round" nsis wine "$package" /S "/D=C:\\bench\\nsis"
  same_tree "$folder" "$dest" ${check_content:+yes}
  # _?= keeps the uninstaller in place instead of copying itself away and
  # returning at once.
  timed "$case" "$round" nsis-uninst wine "C:\\bench\\nsis\\Uninst.exe" /S "_?=C:\\bench\\nsis"
  no_files "$dest"
  rm -rf "$dest"
}

floor() {
  local case=$1 round=$2 package=$3 folder=$4 offset=$5
  local dest=$cdrive/bench/floor
  rm -rf "$dest"
  timed "$case" "$round" floor wine "$build/bench/kxbench_floor.exe" "$(windows_path "$package")" "$offset" 'C:\bench\floor'
  same_tree "$folder" "$dest" ${check_content:+yes}
  rm -rf "$dest"
}

native7zz() {
  local case=$1 round=$2 archive=$3 folder=$4
  local dest=$cdrive/bench/7zz
  rm -rf "$dest"
  timed "$case" "$round" 7zz 7zz x -mmt1 -y -bd "-o$dest" "$archive"
  same_tree "$folder" "$dest" ${check_content:+yes}
  rm -rf "$dest"
}

# note KEY VALUE: a figure for the report.
note() { echo "$1=$2" >> "$meta"; }

# describe NAME FOLDER PACKAGE: the payload and how kxpack packed it.
describe() {
  local name=$1 folder=$2 package=$3
  local offset length
  offset=$(package_field "$package" "container offset")
  length=$(package_field "$package" "payload length")
  note "$name.files" "$(find "$folder" -type f | wc -l)"
  note "$name.bytes" "$(find "$folder" -type f -printf '%s\n' | awk '{ total += $1 } END { printf "%.0f", total }')"
  note "$name.package_bytes" "$(stat -c %s "$package")"
  note "$name.archive_bytes" "$length"
  # Solid blocks: count and the largest unpacked size.
  dd if="$package" of="$work/$name-payload.7z" bs=1M iflag=skip_bytes,count_bytes skip=$((offset + 18)) \
     count="$length" status=none
  7zz l -slt "$work/$name-payload.7z" | awk -v name="$name" '
    /^Size = /  { size = $3 }
    /^Block = / { if ($3 != "") block[$3] += size }
    END { n = 0; max = 0; for (b in block) { n++; if (block[b] > max) max = block[b] }
          printf "%s.blocks=%d\n%s.largest_block=%.0f\n", name, n, name, max }' >> "$meta"
  echo "$offset"
}

# ---- the cases ------------------------------------------------------------------

case_header() {
  echo "bench: $1 (load $(cut -d' ' -f1-3 /proc/loadavg))"
  note "$1.load_before" "$(cut -d' ' -f1-3 /proc/loadavg)"
}
case_footer() { note "$1.load_after" "$(cut -d' ' -f1-3 /proc/loadavg)"; }

run_install() {
  local folder package nsis_exe offset
  folder=$(payload standard $standard_options)
  package=$(our_package standard "$folder")
  nsis_exe=$(nsis_package standard "$folder")
  offset=$(describe standard "$folder" "$package")
  note standard.nsis_bytes "$(stat -c %s "$nsis_exe")"
  case_header install
  for round in $(seq 1 "$rounds"); do
    check_content=
    [ "$round" -eq 1 ] && check_content=yes
    for tool in $(rotate "$round" ours floor 7zz nsis); do
      case $tool in
        ours) ours install "$round" "$package" "$folder" ;;
        floor) floor install "$round" "$package" "$folder" "$((offset + 18))" ;;
        7zz) native7zz install "$round" "$work/standard-payload.7z" "$folder" ;;
        nsis) nsis install "$round" "$nsis_exe" "$folder" ;;
      esac
    done
  done
  case_footer install
}

run_scale() {
  local name=$1 count=$2 folder package tiny tiny_package
  folder=$(payload "files$count" --small-files "$count")
  package=$(our_package "files$count" "$folder")
  tiny=$(payload tiny --tiny)
  tiny_package=$(our_package tiny "$tiny")
  describe "$name" "$folder" "$package" >/dev/null
  case_header "$name"
  for round in $(seq 1 "$rounds"); do
    check_content=
    for tool in $(rotate "$round" ours tiny); do
      case $tool in
        ours) reinstall=yes ours "$name" "$round" "$package" "$folder" ;;
        tiny) ours "$name" "$round" "$tiny_package" "$tiny" tiny ;;
      esac
    done
  done
  case_footer "$name"
}

# The killed run is made again for each round (its files are what the
# recovery deletes); only the setup.exe that finishes it is timed.
run_recovery() {
  local count=$1 folder tiny tiny_package dest=$cdrive/bench/recovery
  folder=$(payload "files$count" --small-files "$count")
  tiny=$(payload tiny --tiny)
  tiny_package=$(our_package tiny "$tiny")
  note recovery.files "$count"
  case_header recovery
  for round in $(seq 1 "$rounds"); do
    rm -rf "$dest"
    python3 "$top/bench/make-killed-run.py" "$folder" "$dest" >&2
    note recovery.journal_bytes "$(stat -c %s "$dest/~kxsetup.jnl")"
    timed recovery "$round" recovery wine "$tiny_package" /S '/D=C:\bench\recovery'
    same_tree "$tiny" "$dest"
    [ ! -e "$dest/~kxsetup.jnl" ] || die "recovery: the journal is still there"
    wine 'C:\bench\recovery\Uninst.exe' /S >/dev/null 2>&1 </dev/null
    rm -rf "$dest"
  done
  case_footer recovery
}

run_memory() {
  local name=$1 folder=$2
  shift 2
  local package
  package=$(our_package "$name" "$folder" "$@")
  describe "$name" "$folder" "$package" >/dev/null
  case_header "$name"
  for round in $(seq 1 "$rounds"); do
    check_content=
    ours "$name" "$round" "$package" "$folder"
  done
  case_footer "$name"
}

run_size() {
  local tiny standard
  tiny=$(payload tiny --tiny)
  standard=$(payload standard $standard_options)
  local package tiny_package tiny_nsis
  package=$(our_package standard "$standard")
  tiny_package=$(our_package tiny "$tiny")
  tiny_nsis=$(nsis_package tiny "$tiny")
  local length
  length=$(package_field "$package" "payload length")
  note size.setup_bytes "$(stat -c %s "$package")"
  note size.payload_archive_bytes "$length"
  note size.overhead_bytes "$(( $(stat -c %s "$package") - length ))"
  note size.tiny_setup_bytes "$(stat -c %s "$tiny_package")"
  # The uninstaller as it goes into the runtime archive, from a staged build.
  rm -rf "$work/size-stage"
  "$kxpack" build --package "$description" --payload "$tiny" --stage "$work/size-stage" --out "$work/size-tiny.exe" >&2
  note size.core_library_bytes "$(stat -c %s "$parts/KXCore64.dll")"
  note size.program_library_bytes "$(stat -c %s "$parts/kxprogram64.dll")"
  note size.uninstaller_bytes "$(stat -c %s "$work/size-stage/runtime-setup/kxremove.dat")"
  rm -rf "$work/size-stage" "$work/size-tiny.exe"
  note size.runtime_archive_bytes "$(package_field "$package" "runtime length")"
  note size.nsis_tiny_bytes "$(stat -c %s "$tiny_nsis")"
  # Quillmark Toolkit's own package (its artwork, pages and program), in
  # every language kxpack ships and in English alone: what the languages
  # cost. Its description's paths are made absolute so that a copy with
  # [languages] added reads the same files.
  local quillmark=$work/size-quillmark language what bytes
  rm -rf "$quillmark"
  mkdir -p "$quillmark"
  sed 's|"\.\./\.\./|"'"$top"'/|' "$top/packaging/quillmark/package.toml" >"$quillmark/all.toml"
  { cat "$quillmark/all.toml"; printf '\n[languages]\noffer = ["English"]\n'; } >"$quillmark/english.toml"
  for language in all english; do
    "$kxpack" build --package "$quillmark/$language.toml" --payload "$build/stage/payload" \
      --out "$quillmark/$language.exe" >&2
    bytes=$(( $(stat -c %s "$quillmark/$language.exe") - $(package_field "$quillmark/$language.exe" "payload length") ))
    note "size.quillmark_${language}_overhead_bytes" "$bytes"
    what="in every language"
    [ "$language" = all ] || what="in English alone"
    echo "bench: size: Quillmark Toolkit's setup.exe $what: overhead $bytes bytes"
  done
  rm -rf "$quillmark"
  echo "bench: size: setup.exe overhead $(( $(stat -c %s "$package") - length )) bytes, NSIS installer of one file $(stat -c %s "$tiny_nsis") bytes"
}

run_builder() {
  local folder
  folder=$(payload standard $standard_options)
  case_header builder
  local first=
  for round in $(seq 1 "$rounds"); do
    for tool in $(rotate "$round" kxpack makensis); do
      case $tool in
        kxpack)
          timed builder "$round" kxpack "$kxpack" build --package "$description" --payload "$folder" \
            --out "$work/builder-kxpack.exe"
          local sum
          sum=$(sha256sum < "$work/builder-kxpack.exe")
          [ -n "$first" ] || first=$sum
          [ "$sum" = "$first" ] || note builder.differs "round $round"
          ;;
        makensis)
          makensis_command "$folder" "$work/builder-nsis.exe"
          timed builder "$round" makensis "${makensis_args[@]}"
          ;;
      esac
    done
  done
  note builder.identical "$([ -z "$(grep '^builder.differs=' "$meta")" ] && echo yes || echo no)"
  # The same build on one core must give the same bytes.
  if [ "$(nproc)" -gt 1 ]; then
    timed builder 0 kxpack-1core taskset -c 0 "$kxpack" build --package "$description" --payload "$folder" \
      --out "$work/builder-kxpack-1core.exe"
    note builder.one_core_identical "$(cmp -s "$work/builder-kxpack.exe" "$work/builder-kxpack-1core.exe" && echo yes || echo no)"
  fi
  note builder.kxpack_bytes "$(stat -c %s "$work/builder-kxpack.exe")"
  note builder.nsis_bytes "$(stat -c %s "$work/builder-nsis.exe")"
  rm -f "$work/builder-kxpack.exe" "$work/builder-kxpack-1core.exe" "$work/builder-nsis.exe"
  case_footer builder
}

standard_options= small=(10000 100000 1000000) big=$((3 << 30)) solid=$((256 << 20))
[ -z "$quick" ] || { standard_options=--quick small=(1000 5000 20000) big=$((64 << 20)) solid=$((8 << 20)); }
IFS=, read -r -a selected <<<"$cases"
start=$(date +%s)
for case in "${selected[@]}"; do
  case $case in
    install) run_install ;;
    scale10k) run_scale scale10k "${small[0]}" ;;
    scale100k) run_scale scale100k "${small[1]}" ;;
    scale1m) run_scale scale1m "${small[2]}" ;;
    recovery) run_recovery "${small[1]}" ;;
    bigfile) run_memory bigfile "$(payload "bigfile-$big" --big-file "$big")" ;;
    solid256)
      note solid256.solid_block_bytes "$solid"
      run_memory solid256 "$(payload standard $standard_options)" --solid-block-size "$solid" ;;
    size) run_size ;;
    builder) run_builder ;;
    *) die "unknown case $case" ;;
  esac
done
note duration_s $(( $(date +%s) - start ))

report=(python3 "$top/bench/report.py" --results "$results" --meta "$meta" --out "$work")
[ "$docs" -eq 1 ] && report+=(--docs "$top/docs/performance.md")
"${report[@]}"
# The chart needs the figures of the default cases; a run of a few cases
# (--cases scale100k) has its report but no chart, and that is no failure.
chart="chart in $work/performance.svg"
if command -v gnuplot >/dev/null && [ -s "$work/chart.dat" ] &&
  gnuplot -e "data='$work/chart.dat'; output='$work/performance.svg'" "$top/bench/chart.gp" 2>"$work/chart.log"; then
  [ "$docs" -eq 1 ] && cp "$work/performance.svg" "$top/docs/performance.svg"
else
  rm -f "$work/performance.svg"
  chart="no chart (the cases run lack some of its figures)"
fi
echo "bench: report in $work/report.md, $chart"
