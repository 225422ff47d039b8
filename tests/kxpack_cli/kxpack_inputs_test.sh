#!/usr/bin/env bash
# kxpack against hostile input: an --out that names a device or one of the
# build's inputs, links out of the payload and loops, special files where
# files belong, names Windows refuses, numbers that wrap, a stage over files
# of the user's, and the scratch folders of a killed run. Each is refused
# with exit 1 and a message naming the culprit, in bounded time, leaving
# every input as it was and no output or temporary file behind.
#   kxpack_inputs_test.sh KXPACK STUB RUNTIME_DIR
set -uo pipefail
work=$(cd "$(mktemp -d)" && pwd -P)
# kxpack's scratch folders go here, so that what a run leaves is seen.
export TMPDIR=$work/tmp
mkdir "$TMPDIR"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Every case gets its own kxpack with its parts, stub, runtime and starter
# package: a kxpack that wrote over its inputs spoils only that case.
kxpack=$work/bin/kxpack
mkdir "$work/originals"
cp "$1" "$work/originals/kxpack" && cp -r "$(dirname "$1")/parts" "$work/originals/parts" && cp "$2" "$work/originals/stub.exe" &&
  cp -r "$3" "$work/originals/runtime" && "$1" init "$work/originals/starter" >/dev/null || { echo "cannot set up"; exit 1; }

# Runs kxpack with a deadline: a hang fails the case instead of the suite.
run() { timeout 60 "$kxpack" "$@" >"$work/msg" 2>&1; }

# refuses MESSAGE ARGS...: kxpack exits 1 and says MESSAGE (an ERE).
refuses() {
  local message=$1 status
  shift
  run "$@"
  status=$?
  if [ "$status" -ne 1 ]; then
    fail "exit status $status, not 1, for: $* -- $(cat "$work/msg")"
  elif ! grep -qE -- "$message" "$work/msg"; then
    fail "the message for '$*' lacks '$message': $(cat "$work/msg")"
  fi
}

# Fingerprints of every file under the private kxpack, the stub, the runtime
# and the case, to show that a refused build changed and left nothing.
fingerprint() {
  (cd "$work" && find bin stub.exe runtime case -type f -exec md5sum {} + 2>/dev/null | sort)
}
snapshot() { fingerprint >"$work/before"; }
untouched() { fingerprint | cmp -s - "$work/before" || fail "$1: files changed or were left: $(fingerprint | diff "$work/before" - | head -5)"; }

# Fresh copies of kxpack and its parts, the stub, the runtime and the
# starter package as $pkg.
pkg=$work/case
fresh() {
  rm -rf "$work/bin" "$work/stub.exe" "$work/runtime" "$pkg"
  mkdir "$work/bin"
  cp -a "$work/originals/kxpack" "$work/originals/parts" "$work/bin/" && cp -a "$work/originals/stub.exe" "$work/" &&
    cp -a "$work/originals/runtime" "$work/runtime" && cp -a "$work/originals/starter" "$pkg"
}
# set_line PATTERN LINE: replaces the first line of the description
# matching PATTERN (an ERE).
set_line() {
  P=$1 T=$2 awk '!done && $0 ~ ENVIRON["P"] { done = 1; print ENVIRON["T"]; next } { print }' \
    "$pkg/package.toml" >"$pkg/package.new" && mv "$pkg/package.new" "$pkg/package.toml"
}
build() { run build --package "$pkg/package.toml" "$@"; }
package=(build --package "$pkg/package.toml")


# --- The output never replaces a device or an input, by any path. ---
for out in "$pkg/package.toml" "$pkg/pages/../package.toml" "$work/hard-link.toml" "$work/soft-link.txt" \
  "$pkg/payload/SampleApp.exe" "$pkg/pages/welcome.rtf" "$pkg/images/app.ico" "$work/bin/parts/setup-stub.exe" \
  "$work/bin/parts/KXCore64.dll" "$work/bin/kxpack"; do
  fresh
  ln -f "$pkg/package.toml" "$work/hard-link.toml"
  ln -sf "$pkg/pages/licence.txt" "$work/soft-link.txt"
  snapshot
  refuses "--out .* an input of this build" "${package[@]}" --out "$out"
  untouched "--out $out"
done
rm "$work/hard-link.toml" "$work/soft-link.txt"
for out in "$work/stub.exe" "$work/runtime/KXCore64.dll"; do
  fresh
  snapshot
  refuses "--out .* is an input" build --stub "$work/stub.exe" --runtime "$work/runtime" --out "$out"
  untouched "--out $out"
done
# Devices, FIFOs and folders stay what they are. /dev/null itself is never
# risked: links to it and a node of the test's own stand in.
mkfifo "$work/fifo"
ln -s /dev/null "$work/null-link"
[ "$(id -u)" != 0 ] || mknod "$work/zero" c 1 5
for out in "$work/fifo" "$work/null-link" "$work/zero" "$pkg/pages"; do
  [ -e "$out" ] || continue
  fresh
  refuses "--out .* is not a regular file" "${package[@]}" --out "$out"
done
[ -p "$work/fifo" ] && [ -L "$work/null-link" ] && [ -c /dev/null ] || fail "--out replaced a FIFO or a link to a device"
[ ! -e "$work/zero" ] || [ -c "$work/zero" ] || fail "--out replaced a device node"
# A description that does not parse names no pages yet; the licence named
# as --out is still not taken for an earlier package and removed.
fresh
set_line '^name = ' 'name = "unterminated'
snapshot
refuses "package.toml:[0-9]+:[0-9]+: " "${package[@]}" --out "$pkg/pages/licence.txt"
untouched "a broken description with --out naming the licence"

# --- Links: inside the payload they are what they point to; out of it,
# nowhere or in a loop they are refused by path. ---
mkdir -p "$work/outside"
echo "not for packaging" >"$work/outside/secret.txt"
cp "$work/originals/starter/payload/SampleApp.exe" "$work/outside/"
link_case() {  # link_case MESSAGE TARGET NAME
  fresh
  ln -s "$2" "$pkg/payload/$3"
  snapshot
  refuses "$1" "${package[@]}" --out "$pkg/setup.exe"
  untouched "a payload link $3 -> $2"
}
link_case "payload.folder: 'etc' is a link to '/etc', outside the folder" /etc etc
link_case "payload.folder: 'docs' is a link to '$work/outside', outside the folder" "$work/outside" docs
link_case "payload.folder: 'secret.txt' is a link to '$work/outside/secret.txt', outside" ../../outside/secret.txt secret.txt
link_case "payload.folder: 'here' is a link to a folder that holds it, a loop" . here
link_case "payload.folder: 'self' is a link that leads into a loop of links" self self
link_case "payload.folder: 'gone' is a link to 'nowhere', which does not exist" nowhere gone
fresh
rm "$pkg/payload/SampleApp.exe"
ln -s "$work/outside/SampleApp.exe" "$pkg/payload/SampleApp.exe"
refuses "payload.folder: 'SampleApp.exe' is a link to '$work/outside/SampleApp.exe', outside" \
  "${package[@]}" --out "$pkg/setup.exe"

# --- Special files where files belong: refused at once, never read. ---
fresh
mkfifo "$pkg/pages/fifo.txt"
for licence in /dev/zero /dev/urandom pages/fifo.txt; do
  set_line '^licence = ' "licence = \"$licence\""
  refuses "pages.licence: .*(is a character device|is a FIFO), not a regular file" "${package[@]}" --out "$pkg/setup.exe"
done
fresh
mkfifo "$pkg/images/fifo.ico"
set_line '^icon = ' 'icon = "images/fifo.ico"'
refuses "pages.icon: .*fifo.ico is a FIFO, not a regular file" "${package[@]}" --out "$pkg/setup.exe"
refuses "fifo is a FIFO, not a regular file" build --package "$work/fifo" --out "$pkg/setup.exe"
refuses "cannot read icon: .*fifo is a FIFO" build --stub "$work/stub.exe" --runtime "$work/runtime" --icon "$work/fifo" \
  --out "$work/x.exe"
fresh
mkfifo "$pkg/payload/pipe"
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$pkg/payload/socket"
refuses "'pipe' is a FIFO" "${package[@]}" --out "$pkg/setup.exe"
grep -q "'socket' is a socket" "$work/msg" || fail "a socket in the payload: $(cat "$work/msg")"
rm "$pkg/payload/pipe" "$pkg/payload/socket"
ln -s "$pkg/payload/SampleApp.exe" "$work/runtime/link-out"
refuses "runtime: 'link-out' is a link to .*, outside the folder" build --stub "$work/stub.exe" \
  --runtime "$work/runtime" --out "$work/x.exe"
rm "$work/runtime/link-out"
refuses "is a FIFO, not a regular file" info "$work/fifo"
refuses "/dev/zero is a character device" info /dev/zero
refuses "is a folder, not a file" info "$work/outside"

# --- Names setup would refuse, each reported. ---
fresh
names=('a:b' 'star*' 'what?' 'less<' 'more>' 'pi|pe' 'quo"te' $'tab\there' $'next\xc2\x85line' $'latin1 \xe9'
  'back\slash' 'dot.' 'con' 'NUL.txt' 'sub/COM1.log' 'CONIN$' 'CONOUT$' 'README.txt')
shown=('a:b' 'star*' 'what?' 'less<' 'more>' 'pi|pe' 'quo"te' 'tab\x09here' 'next\xC2\x85line' 'latin1 \xE9'
  'back\slash' 'dot.' 'con' 'NUL.txt' 'sub/COM1.log' 'CONIN$' 'CONOUT$' 'Readme.txt')
mkdir "$pkg/payload/sub"
for name in "${names[@]}"; do echo x >"$pkg/payload/$name"; done
echo x >"$pkg/payload/Readme.txt"
refuses "payload.folder: " "${package[@]}" --out "$pkg/setup.exe"
for name in "${shown[@]}"; do
  grep -qF "payload.folder: '$name'" "$work/msg" || fail "no problem reported for '$name': $(cat "$work/msg")"
done
[ "$(grep -c "payload.folder: '" "$work/msg")" = "${#names[@]}" ] || fail "not one problem a name: $(cat "$work/msg")"
grep -q $'\t\|\xc2\x85' "$work/msg" && fail "control characters went to the terminal as they are"
[ ! -e "$pkg/setup.exe" ] || fail "a payload with bad names gave a package"

# --- Numbers are plain decimals within range. ---
fresh
for size in -1 18446744073709551617 99999999999999999999 12abc +5 ' 5' 0 1000 ''; do
  refuses "--solid-block-size takes a whole number of bytes from 262144 to" build --stub "$work/stub.exe" \
    --runtime "$work/runtime" --solid-block-size "$size" --out "$work/x.exe"
done
[ ! -e "$work/x.exe" ] || fail "a refused build left $work/x.exe"

# --- The stage goes into new or empty folders only. ---
fresh
mkdir -p "$work/stage/runtime-setup"
echo "the user's" >"$work/stage/runtime-setup/notes.txt"
refuses "--stage: .*runtime-setup exists and is not an empty folder" "${package[@]}" --stage "$work/stage" \
  --out "$pkg/setup.exe"
[ "$(cat "$work/stage/runtime-setup/notes.txt")" = "the user's" ] || fail "--stage removed a file of the user's"
refuses "--stage: .*notes.txt is not a folder" "${package[@]}" --stage "$work/stage/runtime-setup/notes.txt" \
  --out "$pkg/setup.exe"
[ ! -e "$pkg/setup.exe" ] || fail "a refused stage left an output"

# A payload whose links stay inside builds: each link holds what it points
# to, the program may be one, and an empty stage folder is taken.
fresh
mkdir "$pkg/payload/docs" "$work/empty-stage" "$work/empty-stage/runtime-uninst"
printf 'readme\n' >"$pkg/payload/docs/readme.txt"
ln -s docs "$pkg/payload/manual"
ln -s SampleApp.exe "$pkg/payload/Start.exe"
set_line '^program = ' 'program = "Start.exe"'
build --out "$work/linked.exe" --stage "$work/empty-stage" --solid-block-size 1048576 || fail "inside links: $(cat "$work/msg")"
run info "$work/linked.exe" || fail "info on the package with links"
app_size=$(stat -c %s "$pkg/payload/SampleApp.exe")
for entry in "docs/readme.txt  7 bytes" "manual/readme.txt  7 bytes" "Start.exe  $app_size bytes" \
  "SampleApp.exe  $app_size bytes" "manual/"; do
  grep -qF "  $entry" "$work/msg" || fail "the package with links lacks '$entry': $(cat "$work/msg")"
done
[ -e "$work/empty-stage/runtime-uninst/kxpackage.dat" ] || fail "nothing staged into the empty stage folder"

# --- A killed kxpack's scratch folder goes with the next run; a running
# one's stays. The signing command holds the build where it is killed. ---
fresh
setsid "$kxpack" build --package "$pkg/package.toml" --out "$work/killed.exe" \
  --sign "touch '$work/signing'; sleep 120; cp {in} {out}" >/dev/null 2>&1 &
killed=$!
for _ in $(seq 600); do [ -e "$work/signing" ] && break; sleep 0.1; done
[ -e "$work/signing" ] || fail "the build to kill never reached its signing command"
kill -9 -- "-$killed"
wait "$killed" 2>/dev/null
[ -n "$(ls "$TMPDIR")" ] || fail "the killed build left no scratch folder to clean up (test broken?)"
# The shell itself holds the running one's lock, as a live kxpack does.
mkdir "$TMPDIR/kxpack-scratch.running"
exec {running}<"$TMPDIR/kxpack-scratch.running"
flock -x "$running"
run info "$work/linked.exe" || fail "info after a killed build"
[ "$(ls "$TMPDIR")" = "kxpack-scratch.running" ] || fail "scratch folders after a killed run: $(ls "$TMPDIR")"
exec {running}<&-
ls "$work" | grep -q 'kxpack-tmp' && fail "temporary files left beside the outputs: $(ls "$work")"

exit $((failures > 0))
