#!/usr/bin/env bash
# tests/wine-run.sh, the runner of every Windows test: what the program
# writes and its exit code reach the caller, and a process the program leaves
# running (as Wine's own helpers outlive the test that started them) does not
# keep the caller waiting on its output.
#   wine_run_test.sh PATH_OF_WINE_RUN   (KX_WINE_ROOT set, the prefixes served)
set -u
runner=$1
export KX_WINE_MODE=headless
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Output and exit code pass through; both streams reach the caller.
output=$("$runner" cmd /c "echo to standard output & echo to standard error 1>&2 & exit 7" 2>&1)
status=$?
[ "$status" -eq 7 ] || fail "exit code $status, expected 7"
grep -q "to standard output" <<<"$output" || fail "standard output lost: $output"
grep -q "to standard error" <<<"$output" || fail "standard error lost: $output"

# A child that runs on for 15 s with the program's output handles: the caller
# reads to the end of the output as CTest does, and that end must come when
# the program ends, not when the child does.
start=$SECONDS
lines=$(timeout 60 "$runner" cmd /c "start /b ping -n 16 127.0.0.1 & echo started" | wc -l)
took=$((SECONDS - start))
[ "$took" -lt 10 ] || fail "the caller waited $took s for a child the program left running"
[ "$lines" -ge 1 ] || fail "the program's own output was lost"

# A program that is not there fails as wine fails, not as success.
"$runner" 'C:\no\such\program.exe' >/dev/null 2>&1 && fail "a missing program reported success"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "wine-run: all checks passed"
