#!/usr/bin/env bash
# Signed packages verify; the package's resources are what wrestool reads;
# bad signing commands and icons fail the build and leave no package.
#   signing_resources_test.sh KXPACK STUB RUNTIME_DIR SIGNED_DIR ICON OUT_DIR STUB_ICON DESCRIBED_SETUP
set -uo pipefail
kxpack=$1 stub=$2 runtime=$3 signed=$4 icon=$5 out=$6 stub_icon=$7 described=$8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Expects a refused build whose message contains $1 and no output file.
refuses() {
  local expected=$1
  shift
  if "$kxpack" build --stub "$stub" --runtime "$runtime" --out "$work/x.exe" "$@" >"$work/msg" 2>&1; then
    fail "accepted: $*"
  elif ! grep -q -- "$expected" "$work/msg"; then
    fail "message for '$*' lacks '$expected': $(cat "$work/msg")"
  fi
  [ ! -e "$work/x.exe" ] || fail "a refused build left $work/x.exe: $*"
  rm -f "$work/x.exe"
}

# The extracted group icon is the .ico given (wrestool may add bytes behind it).
same_icon() {
  wrestool -x --type=14 "$1" >"$work/icon" 2>/dev/null || fail "no icon group in $1"
  cmp -s -n "$(stat -c %s "$2")" "$work/icon" "$2" || fail "$1 does not carry the icon $2"
}

# Version strings as UTF-16 text in the raw version resource.
version_has() {
  wrestool -x --raw --type=16 "$1" 2>/dev/null | iconv -f UTF-16LE -t UTF-8 2>/dev/null | tr -c '[:print:]' '\n' \
    >"$work/version"
  grep -qxF -- "$2" "$work/version" || fail "$1: no version string '$2' in $(tr '\n' ' ' <"$work/version")"
}

for program in "$signed/setup.exe" "$signed/Uninst.exe"; do
  osslsigncode verify -CAfile "$signed/cert.pem" -in "$program" >"$work/verify" 2>&1 ||
    fail "$program does not verify: $(cat "$work/verify")"
  "$kxpack" info "$program" >"$work/info" 2>&1 || fail "kxpack info $program: $(cat "$work/info")"
  grep -q "^signature: " "$work/info" || fail "kxpack info shows no signature for $program"
  same_icon "$program" "$icon"
  version_has "$program" "Signed Sample"
  version_has "$program" "4.5.6.7"
  version_has "$program" "Kx Test Signers"
done
# A package built from its description is signed the same way.
osslsigncode verify -CAfile "$signed/cert.pem" -in "$described" >"$work/verify" 2>&1 ||
  fail "$described does not verify: $(cat "$work/verify")"
# Its setup's runtime carries the signed uninstaller with the bytes of the
# core library, of the program library and of the sections before its
# resource tree (the same loader as setup's, and the same icon's images) left
# out (zero); the stage keeps it whole, as setup writes it back
# (second_package_test compares the installed one with it), and whole it
# verifies.
whole=$(dirname "$described")/stage/runtime-setup/kxremove.dat
osslsigncode verify -CAfile "$signed/cert.pem" -in "$whole" >"$work/verify" 2>&1 ||
  fail "$whole does not verify: $(cat "$work/verify")"
read -r at length < <("$kxpack" info "$described" | sed -n 's/^runtime length: *\([0-9]*\) (at \([0-9]*\)).*/\2 \1/p')
stub_length=$("$kxpack" info "$described" | sed -n 's/^container offset: *\([0-9]*\).*/\1/p')
head -c "$stub_length" "$described" >"$work/setup-stub.exe"
tail -c +$((at + 1)) "$described" | head -c "$length" >"$work/runtime.7z"
mkdir -p "$work/runtime"
7zz e -o"$work/runtime" "$work/runtime.7z" kxremove.dat KXCore64.dll kxprogram64.dll >/dev/null 2>&1 ||
  fail "the described setup's runtime does not unpack"
python3 - "$work/runtime/kxremove.dat" "$whole" "$work/setup-stub.exe" \
  "$work/runtime/KXCore64.dll" "$work/runtime/kxprogram64.dll" <<'PY' ||
import struct, sys
carried, whole, setup, *libraries = (open(name, "rb").read() for name in sys.argv[1:])
expected = whole
for library in libraries:
    at = whole.find(library)
    if at < 0 or whole.find(library, at + 1) >= 0:
        sys.exit(1)
    expected = expected[:at] + bytes(len(library)) + expected[at + len(library):]
def loader_sections(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count = struct.unpack_from("<H", image, pe + 6)[0]
    sections = []
    for i in range(count):
        header = image[pe + 264 + 40 * i:pe + 264 + 40 * (i + 1)]
        if header[:8] == b".rsrc\0\0\0":
            return sections
        size, offset = struct.unpack_from("<II", header, 16)
        if size and offset:
            sections.append((header[:8].rstrip(b"\0"), offset, size))
    return []
# Section by section, as kxpack compares them: the same place, size and bytes
# as the setup's stub with the package's resources. The code (the first
# section) and the icon's images are always among them: both programs carry
# the package's icon.
sections, setup_sections = loader_sections(whole), loader_sections(setup)
left_out = set()
for i, (name, offset, size) in enumerate(sections):
    if i < len(setup_sections) and setup_sections[i] == (name, offset, size) and \
            whole[offset:offset + size] == setup[offset:offset + size]:
        expected = expected[:offset] + bytes(size) + expected[offset + size:]
        left_out.add(name)
sys.exit(0 if {b".text", b".icons"} <= left_out and len(carried) == len(whole) and carried == expected else 1)
PY
  fail "the carried uninstaller is not the whole one with its loader, icon and libraries left out"
version_has "$signed/setup.exe" "Signed Sample Setup"
version_has "$signed/Uninst.exe" "Signed Sample Uninstaller"
version_has "$signed/Uninst.exe" "Uninst.exe"

# Quillmark's programs, built from its description, carry its icon and
# version information and list every kind of resource once.
for program in "$out/setup.exe" "$out/Uninst.exe"; do
  same_icon "$program" "$stub_icon"
  version_has "$program" "Quillmark Toolkit"
  version_has "$program" "2020.01.15.01"
  wrestool -l "$program" | sed -n 's/.*--type=\([0-9]*\) .*/\1/p' | sort -n | uniq -c | awk '{print $2}' | tr '\n' ' ' \
    >"$work/types"
  [ "$(cat "$work/types")" = "3 6 14 16 24 " ] || fail "$program resource types: $(cat "$work/types")"
done

# Signing commands that fail, or sign nothing, fail the build.
refuses "certificate has expired" --sign 'echo "certificate has expired" >&2; exit 4; : {in} {out}'
refuses "exit status 4" --sign 'echo "certificate has expired" >&2; exit 4; : {in} {out}'
refuses "without a signature" --sign 'cp {in} {out}'
refuses "must name {in} and {out}" --sign 'osslsigncode sign -in {in}'
echo "not an icon" >"$work/text.ico"
refuses "not an icon file" --icon "$work/text.ico"
refuses "needs the product's version" --product-name "Half Described"

exit $((failures > 0))
