#!/usr/bin/env bash
# tests/wine-run.sh, the runner of every Windows test: what the program
# writes and its exit code reach the caller, and a process the program leaves
# running (as Wine's own helpers outlive the test that started them) does not
# keep the caller waiting on its output, and a run that an X protocol error
# ended is run once more.
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

# A run ended by an X protocol error (Xlib's default handler ends the
# process) runs once more; a second such end fails as it is. The marker
# file tells the program which run it is.
marker=$(mktemp -u "${TMPDIR:-/tmp}/wine-run-marker.XXXXXX")
trap 'rm -f "$marker"' EXIT
windows_marker="Z:${marker//\//\\}"
xerror="echo X Error of failed request:  BadWindow 1>&2"
output=$("$runner" cmd /c "if exist $windows_marker (echo second run & exit 0) else (copy nul $windows_marker >nul & $xerror & exit 1)" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "a run ended by an X error was not run again (exit $status): $output"
grep -q "second run" <<<"$output" || fail "the second run's output was lost: $output"
grep -q "running the program again" <<<"$output" || fail "the repeat was not reported: $output"
output=$("$runner" cmd /c "$xerror & exit 1" 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "a program ended by X errors twice gave $status, expected 1"
# Only X errors: a plain failure is not run again.
output=$("$runner" cmd /c "echo plain failure & exit 3" 2>&1)
status=$?
[ "$status" -eq 3 ] || fail "a plain failure gave $status, expected 3"
[ "$(grep -c "plain failure" <<<"$output")" -eq 1 ] || fail "a plain failure ran more than once: $output"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "wine-run: all checks passed"
