#!/usr/bin/env bash
# Builds the fuzz targets (native, clang, libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a while, from a seed corpus
# made by the project's own tools plus the regression inputs kept in
# fuzz/regressions/<target>/. Prints one line per target: executions, edges
# covered, corpus size, seconds taken, and crashes (a crash, sanitizer report
# or leak stops the target and leaves its input in the work folder).
#
#   fuzz/run.sh [--seconds N] [--runs N] [--smoke] [--work DIR] [TARGET...]
#
# --seconds N   run each target N seconds (default 10; with --runs, at most N)
# --runs N      run each target N inputs instead
# --smoke       start from the seeds and regression inputs alone, keeping
#               nothing found, with a fixed seed (the test suite's run:
#               --runs 3000 --smoke)
# --work DIR    build and corpus folder (default build/fuzz, or $KX_BUILD_DIR/fuzz)
# KX_FUZZ_OUT (optional) names a file that gets the same table in Markdown.
# Exit status: 0 when no target crashed, 1 otherwise, 2 for a bad call.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds= runs= smoke= work=${KX_BUILD_DIR:-$top/build}/fuzz
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --smoke) smoke=1; shift ;;
    --work) work=$2; shift 2 ;;
    -*) echo "usage: $0 [--seconds N] [--runs N] [--smoke] [--work DIR] [TARGET...]" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
all=(container_layout_fuzz artwork_fuzz pe_resources_fuzz description_fuzz name_rules_fuzz uninstall_log_fuzz
         language_table_fuzz dialog_data_fuzz page_text_fuzz entry_names_fuzz archive_fuzz archive_header_fuzz
         package_data_fuzz)
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

mkdir -p "$work"
work=$(cd "$work" && pwd)
# The LZMA SDK's sources, unpacked into the build tree beside the work folder.
lzma=${KX_LZMA_DIR:-$(dirname "$work")/third_party/lzma/C}
[ -f "$lzma/7zArcIn.c" ] || KX_BUILD_DIR=$(dirname "$work") "$top/scripts/bootstrap.sh"
cmake -S "$top/fuzz" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DKX_LZMA_DIR="$lzma" >/dev/null
cmake --build "$work/build" -j"$(nproc)" --target make_seeds "${targets[@]}" >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log"; echo "fuzz: the build failed"; exit 1; }
"$top/fuzz/make-seeds.sh" "$work/seeds"

crashed=0
printf '%-24s %12s %8s %8s %8s %8s\n' target executions edges corpus seconds crashes
[ -n "${KX_FUZZ_OUT:-}" ] &&
  printf '| target | executions | edges | corpus | seconds | crashes |\n|---|---|---|---|---|---|\n' >"$KX_FUZZ_OUT"
for target in "${targets[@]}"; do
  # The smoke run starts from the seeds and regressions alone, whatever
  # long runs have found, so that its time stays what it was; its logs are
  # its own, so that the suite's run beside a long run in the same folder
  # leaves the long run's log whole.
  corpus=$work/corpus/$target
  log=$work/$target.log
  [ -n "$smoke" ] && { corpus=$work/smoke/$target; log=$work/smoke/$target.log; rm -rf "$corpus"; }
  artifacts=$work/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  regressions=()
  [ -d "$top/fuzz/regressions/$target" ] && regressions=("$top/fuzz/regressions/$target")
  limit=()
  [ -n "$runs" ] && limit+=(-runs="$runs")
  # The suite's run mutates the same way every time: a failure it shows can
  # be run again, and a finding never comes and goes between runs.
  [ -n "$smoke" ] && limit+=(-seed=1)
  [ -n "$seconds" ] || [ -z "$runs" ] && limit+=(-max_total_time="${seconds:-10}")
  status=0
  started=$SECONDS
  # Seeds and regressions are read, new finds go to the work corpus only.
  "$work/build/$target" "${limit[@]}" -print_final_stats=1 -detect_leaks=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/" "$corpus" "$work/seeds/$target" "${regressions[@]}" \
    >"$log" 2>&1 || status=$?
  # A target that stops before its first report has no figures: no match is no failure.
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  edges=$( (grep -oE 'cov: [0-9]+' "$log" || true) | tail -n 1 | cut -d' ' -f2)
  size=$(find "$corpus" -type f | wc -l)
  taken=$((SECONDS - started))
  found=0
  if [ "$status" -ne 0 ]; then
    found=1
    crashed=1
  fi
  printf '%-24s %12s %8s %8s %8s %8s\n' "$target" "${executions:-0}" "${edges:-0}" "$size" "$taken" "$found"
  [ -n "${KX_FUZZ_OUT:-}" ] && printf '| %s | %s | %s | %s | %s | %s |\n' "$target" "${executions:-0}" "${edges:-0}" \
    "$size" "$taken" "$found" >>"$KX_FUZZ_OUT"
  if [ "$found" -ne 0 ]; then
    echo "fuzz: $target stopped with status $status; its log: $log, the input in $artifacts/"
    grep -m 5 -E 'ERROR|runtime error|SUMMARY' "$log" || true
  fi
done
exit $crashed
