#!/usr/bin/env bash
# kxpack as a command: reproducible output, checks on what it wrote, clear
# refusals of bad input.
#   kxpack_cli_test.sh KXPACK STUB RUNTIME_DIR PAYLOAD_DIR
set -uo pipefail
kxpack=$1 stub=$2 runtime=$3 payload=$4
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Expects a refusal whose message contains $1; the rest is the command.
refuses() {
  local expected=$1
  shift
  if "$@" >"$work/out" 2>&1; then
    fail "accepted: $*"
  elif ! grep -q -- "$expected" "$work/out"; then
    fail "message for '$*' lacks '$expected': $(cat "$work/out")"
  fi
}

# Same inputs, same bytes.
"$kxpack" build --stub "$stub" --runtime "$runtime" --payload "$payload" --out "$work/a.exe" || fail "build a"
"$kxpack" build --stub "$stub" --runtime "$runtime" --payload "$payload" --out "$work/b.exe" || fail "build b"
cmp -s "$work/a.exe" "$work/b.exe" || fail "two builds from the same inputs differ"

# info describes the container.
"$kxpack" info "$work/a.exe" >"$work/info" || fail "info"
size=$(stat -c %s "$work/a.exe")
grep -q "^container offset: $(stat -c %s "$stub")$" "$work/info" || fail "info: container offset $(cat "$work/info")"
grep -q "^file size field:  $size " "$work/info" || fail "info: file size field"
grep -q "KXCore64.dll" "$work/info" || fail "info: runtime entries"
grep -q "README.txt" "$work/info" || fail "info: payload entries"

# A stub with bytes behind its last section is cut, and the package still reads back.
cat "$stub" > "$work/unstripped.exe"
head -c 777 /dev/urandom >> "$work/unstripped.exe"
"$kxpack" build --stub "$work/unstripped.exe" --runtime "$runtime" --out "$work/c.exe" 2>"$work/note" || fail "unstripped stub refused"
grep -q "cut 777 bytes" "$work/note" || fail "no note about the cut bytes"
"$kxpack" info "$work/c.exe" | grep -q "^payload length:   0$" || fail "uninstaller-style package"

# Bad input is refused with a clear message.
refuses "cannot read stub" "$kxpack" build --stub "$work/missing.exe" --runtime "$runtime" --out "$work/x.exe"
echo "not a program" > "$work/text.exe"
refuses "not a PE image" "$kxpack" build --stub "$work/text.exe" --runtime "$runtime" --out "$work/x.exe"
mkdir "$work/nocore" && echo x > "$work/nocore/kxlng.dat"
refuses "holds no KXCore64.dll" "$kxpack" build --stub "$stub" --runtime "$work/nocore" --out "$work/x.exe"
refuses "cannot read folder" "$kxpack" build --stub "$stub" --runtime "$runtime" --payload "$work/nopayload" --out "$work/x.exe"
mkdir "$work/emptypayload"
refuses "is empty" "$kxpack" build --stub "$stub" --runtime "$runtime" --payload "$work/emptypayload" --out "$work/x.exe"
refuses "unknown option" "$kxpack" build --stub "$stub" --bogus 1
[ ! -e "$work/x.exe" ] || fail "a refused build left an output file"

exit $((failures > 0))
