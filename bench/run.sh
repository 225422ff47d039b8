#!/usr/bin/env bash
# Extraction benchmark, run by hand (never by CI):
#
#   bench/run.sh [ROUNDS]        (default 3 rounds)
#
# Builds a package from a generated payload (bench/make-payload.py: C headers,
# shared libraries, random data; ~290 MiB in ~9600 files), then, alternating
# within each round:
#   ours   kxbench_install: ExtractArchive silently on the package under Wine,
#          with the real core library, InstallFileHook and the uninstall log
#   floor  kxbench_floor: the same payload archive unpacked under Wine by a
#          bare program that only calls the LZMA SDK and Win32 file functions
#   7zz    7zz x -mmt1 on the payload archive, natively, for reference
# (the order turning from round to round) and reports each run's wall time,
# CPU time and peak memory, the ratio ours/floor per round with its median,
# and the largest solid block of the payload archive.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$top/build}
rounds=${1:-3}
work=$build/bench-run
mkdir -p "$work"

"$top/scripts/build.sh" --target kxbench_install kxbench_floor setup_stub runtime_setup_stage host_tools >/dev/null

if [ ! -f "$work/payload.stamp" ]; then
  python3 "$top/bench/make-payload.py" "$work/payload"
  touch "$work/payload.stamp"
fi
package=$work/bench-setup.exe
if [ ! -f "$package" ] || [ "$work/payload.stamp" -nt "$package" ]; then
  echo "bench: building the package (7zz, one thread; this takes a few minutes)"
  "$build/host/kxpack" build --stub "$build/script/setup_stub.exe" --runtime "$build/stage/runtime-setup" \
    --payload "$work/payload" --out "$package"
fi

info=$("$build/host/kxpack" info "$package")
container=$(sed -n 's/^container offset: *//p' <<<"$info")
length=$(sed -n 's/^payload length: *//p' <<<"$info")
offset=$((container + 18))
dd if="$package" of="$work/payload.7z" bs=1M iflag=skip_bytes,count_bytes skip="$offset" count="$length" status=none

# Unpacked size of each solid block: the sum of the sizes of its files.
largest=$(7zz l -slt "$work/payload.7z" | awk '
  /^Size = /  { size = $3 }
  /^Block = / { block[$3] += size }
  END { max = 0; for (b in block) if (block[b] > max) max = block[b]; print max }')
blocks=$(7zz l -slt "$work/payload.7z" | awk '/^Block = / { b[$3] = 1 } END { print length(b) }')
payload_bytes=$(du -sb "$work/payload" | cut -f1)
files=$(find "$work/payload" -type f | wc -l)
printf 'payload: %d files, %.1f MiB; archive %.1f MiB in %d solid blocks, largest %.1f MiB\n' \
  "$files" "$(bc -l <<<"$payload_bytes/1048576")" "$(bc -l <<<"$length/1048576")" "$blocks" \
  "$(bc -l <<<"$largest/1048576")"

export KX_WINE_ROOT=$build/wine KX_WINE_MODE=headless
"$top/scripts/wine-session.sh" start "$build" >/dev/null
trap '"$top/scripts/wine-session.sh" stop "$build" >/dev/null' EXIT
windows() { echo "Z:${1//\//\\}"; }
out=$work/out

# run NAME COMMAND...: one timed run into $out; prints "wall_s maxrss_kib user_s sys_s [program's report]"
run() {
  local name=$1
  shift
  rm -rf "$out"
  sync
  local report
  report=$(/usr/bin/time -f '%e %M %U %S' -o "$work/time.txt" "$@" 2>/dev/null | grep '^result=' || true)
  local measured
  measured=$(cat "$work/time.txt")
  if [ -n "$report" ] && ! grep -q '^result=0 ' <<<"$report"; then
    echo "bench: $name failed: $report" >&2
    exit 1
  fi
  echo "$measured $report"
}

results=$work/results.txt
: > "$results"
printf '%-6s %-6s %8s %8s %8s %11s %12s\n' round tool wall_s inner_s cpu_s maxrss_MiB peak_ws_MiB
for round in $(seq 1 "$rounds"); do
  # The order turns from round to round, so that no tool always runs first.
  case $((round % 3)) in
    1) order="ours floor 7zz" ;;
    2) order="floor 7zz ours" ;;
    0) order="7zz ours floor" ;;
  esac
  for tool in $order; do
    case $tool in
      ours)  line=$(run ours "$top/tests/wine-run.sh" "$build/bench/kxbench_install.exe" "$(windows "$package")" \
                    "$(windows "$build/stage/runtime-setup")" "$(windows "$out")") ;;
      floor) line=$(run floor "$top/tests/wine-run.sh" "$build/bench/kxbench_floor.exe" "$(windows "$package")" \
                    "$offset" "$(windows "$out")") ;;
      7zz)   line=$(run 7zz 7zz x -mmt1 -y -bd -o"$out" "$work/payload.7z") ;;
    esac
    read -r wall rss user sys rest <<<"$line"
    cpu=$(bc -l <<<"$user + $sys")
    inner=$(sed -n 's/.*ms=\([0-9.]*\).*/\1/p' <<<"$rest")
    ws=$(sed -n 's/.*peak_ws=\([0-9]*\).*/\1/p' <<<"$rest")
    private=$(sed -n 's/.*peak_private=\([0-9]*\).*/\1/p' <<<"$rest")
    written=$(find "$out" -type f | wc -l)
    [ "$written" -eq "$files" ] || { echo "bench: $tool wrote $written of $files files" >&2; exit 1; }
    printf '%-6s %-6s %8.2f %8s %8.2f %11.1f %12s\n' "$round" "$tool" "$wall" \
      "${inner:+$(printf '%.2f' "$(bc -l <<<"$inner/1000")")}" "$cpu" "$(bc -l <<<"$rss/1024")" \
      "${ws:+$(printf '%.1f' "$(bc -l <<<"$ws/1048576")")}"
    echo "$round $tool $wall ${inner:-0} $rss ${ws:-0} ${private:-0} $cpu" >> "$results"
  done
done
rm -rf "$out"

awk -v largest="$largest" '
  function median(values, n,    i, j, t) {
    for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (values[j] < values[i]) { t = values[i]; values[i] = values[j]; values[j] = t }
    return n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
  }
  { wall[$1, $2] = $3; inner[$1, $2] = $4; cpu[$1, $2] = $8; rounds = $1 > rounds ? $1 : rounds
    if ($5 > rss[$2]) rss[$2] = $5 }
  END {
    for (r = 1; r <= rounds; ++r) {
      ratio[r] = wall[r, "ours"] / wall[r, "floor"]
      printf "round %d: ours/floor %.3f wall, %.3f inside the program, %.3f cpu; ours/7zz %.2f wall\n", r,
             ratio[r], inner[r, "ours"] / inner[r, "floor"], cpu[r, "ours"] / cpu[r, "floor"],
             wall[r, "ours"] / wall[r, "7zz"]
      w_ours[r] = wall[r, "ours"]; w_floor[r] = wall[r, "floor"]; w_7zz[r] = wall[r, "7zz"]
    }
    printf "median wall: ours %.2f s, floor %.2f s, 7zz %.2f s; median ours/floor %.3f\n",
           median(w_ours, rounds), median(w_floor, rounds), median(w_7zz, rounds), median(ratio, rounds)
    printf "peak resident memory: ours %.1f MiB, floor %.1f MiB, 7zz %.1f MiB (limit for ours: largest block + 32 MiB = %.1f MiB)\n",
           rss["ours"] / 1024, rss["floor"] / 1024, rss["7zz"] / 1024, largest / 1048576 + 32
  }' "$results"
