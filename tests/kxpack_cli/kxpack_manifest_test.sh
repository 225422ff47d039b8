#!/usr/bin/env bash
# kxpack manifest: the winget manifests of the Quillmark package and of the
# second package validate against winget's 1.6.0 schemas and carry the hash
# of the very file; texts that mean something in YAML read back as written;
# bad input is refused with its message and leaves no folder behind.
#   kxpack_manifest_test.sh KXPACK QUILLMARK_SETUP QUILLMARK_UNINST TIDECHARTS_SETUP SOURCE_ROOT
# KXPACK is out/kxpack, which builds a package of odd names from its starter.
set -uo pipefail
kxpack=$1 quill=$2 uninst=$3 tide=$4 root=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
sha() { sha256sum "$1" | cut -c1-64 | tr a-f A-F; }
check() { python3 "$root/tests/kxpack_cli/check_winget_manifest.py" "$root/tests/kxpack_cli/winget-schemas" "$1" "$root/docs" "${@:2}"; }

# Quillmark, its listing from the options alone.
url=https://downloads.quillmark.example/2020.01.15.01/setup.exe
"$kxpack" manifest --installer "$quill" --url "$url" --out "$work/quill" --id Quillmark.Toolkit \
  --licence Proprietary --short-description "Quill and ink tools" >"$work/msg" 2>&1 ||
  fail "Quillmark manifest: $(cat "$work/msg")"
check "$work/quill" installer.Installers.0.InstallerSha256="$(sha "$quill")" installer.Installers.0.InstallerUrl="$url" \
  installer.ProductCode="Quillmark Toolkit812953" installer.AppsAndFeaturesEntries.0.DisplayName="Quillmark Toolkit" \
  version.PackageVersion=2020.01.15.01 locale.PackageName="Quillmark Toolkit" locale.Publisher="Quillmark, LLC" \
  locale.PackageUrl=https://www.quillmark.example locale.License=Proprietary || fail "Quillmark's manifest"

# The second package, signed, its listing from its description's [manifest];
# it has no web address, and its uninstall key is the default one.
second=$root/tests/e2e/second_package/package.toml
"$kxpack" manifest --installer "$tide" --url https://tidewater.example/3.4.1/setup.exe --package "$second" \
  --out "$work/tide" >"$work/msg" 2>&1 || fail "Tide Charts manifest: $(cat "$work/msg")"
check "$work/tide" installer.Installers.0.InstallerSha256="$(sha "$tide")" version.PackageIdentifier=Tidewater.TideCharts \
  locale.PackageName="Tide Charts" locale.PackageUrl="(missing)" locale.PublisherUrl="(missing)" \
  locale.License="Proprietary: see the licence page of the setup program" || fail "Tide Charts' manifest"
grep -qx 'ProductCode: "Tide Charts_[0-9A-F]\{8\}"' "$work/tide/Tidewater.TideCharts.installer.yaml" ||
  fail "Tide Charts' product code: $(grep ProductCode "$work/tide/Tidewater.TideCharts.installer.yaml")"
# An option wins over the description.
"$kxpack" manifest --installer "$tide" --url https://tidewater.example/setup.exe --package "$second" \
  --id Tidewater.Charts --out "$work/tide2" >/dev/null 2>&1 &&
  [ -f "$work/tide2/Tidewater.Charts.installer.yaml" ] || fail "--id does not win over the description"

# Names, a web address and listing texts that YAML would read otherwise read
# back as written: quotes, ': ', '#', a backslash, characters beyond ASCII,
# YAML's indicators, a line separator (U+2028).
publisher='Ünïcödé "Quoted": #1 \ Co. ✓'
name="Tide # Chärts 'Pro' ✓ {x} [y] & %z!"
page='https://example.com/p?q=a: b#frag'
licence=$'Proprietary: "see" #licence \\ \u2028 ünïcode'
summary='- [a]: {b} & *c !d %e @f `g` | > ? 😀'
odd_url=$'https://example.com/odd%20setup.exe?a=b#c:d\'e"'
"$kxpack" init "$work/odd" >/dev/null || fail "init"
# Each value as a TOML multi-line literal string, which takes quotes and
# backslashes as they are.
N=$name P=$publisher U=$page python3 -c '
import os, sys
values = {"name": "N", "publisher": "P", "url": "U"}
quotes = chr(39) * 3
lines = []
for line in open(sys.argv[1], encoding="utf-8"):
    key = line.split(" = ")[0]
    if key in values:
        line = key + " = " + quotes + os.environ[values[key]] + quotes + "\n"
    elif key == "version":
        line = "version = \"1.0 beta+\u00df\"\n"
    lines.append(line)
open(sys.argv[1], "w", encoding="utf-8").writelines(lines)
' "$work/odd/package.toml" || fail "odd description"
"$kxpack" build --package "$work/odd/package.toml" --out "$work/odd/setup.exe" >"$work/msg" 2>&1 || fail "odd build: $(cat "$work/msg")"
"$kxpack" manifest --installer "$work/odd/setup.exe" --url "https://example.com/odd setup.exe" --out "$work/x" --id O.P \
  --licence x --short-description xyz >/dev/null 2>&1 && fail "a blank in --url accepted"
"$kxpack" manifest --installer "$work/odd/setup.exe" --url "$odd_url" --out "$work/odd/m" \
  --id "Ünïcödé.Tide#Charts" --licence "$licence" --short-description "$summary" >"$work/msg" 2>&1 ||
  fail "odd manifest: $(cat "$work/msg")"
check "$work/odd/m" locale.Publisher="$publisher" locale.PackageName="$name" locale.PackageUrl="$page" \
  locale.License="$licence" locale.ShortDescription="$summary" version.PackageVersion="1.0 beta+ß" \
  installer.AppsAndFeaturesEntries.0.Publisher="$publisher" installer.Installers.0.InstallerUrl="$odd_url" \
  installer.Installers.0.InstallerSha256="$(sha "$work/odd/setup.exe")" version.PackageIdentifier="Ünïcödé.Tide#Charts" ||
  fail "odd texts do not read back"

# A package that offers both scopes is two installers of the one file, each
# with its scope's switch; only the one for all users asks for elevation.
"$kxpack" init "$work/both" >/dev/null || fail "init"
sed -i 's/^# scope = "current_user" .*/scope = "both"/' "$work/both/package.toml"
grep -qx 'scope = "both"' "$work/both/package.toml" || fail "the starter's scope line moved"
"$kxpack" build --package "$work/both/package.toml" --out "$work/both/setup.exe" >"$work/msg" 2>&1 || fail "both build: $(cat "$work/msg")"
"$kxpack" manifest --installer "$work/both/setup.exe" --url "$url" --out "$work/both/m" --id Both.Scopes --licence Proprietary --short-description "Quill and ink tools" \
  >"$work/msg" 2>&1 || fail "both manifest: $(cat "$work/msg")"
check "$work/both/m" installer.Scope="(missing)" installer.ElevationRequirement="(missing)" \
  installer.Installers.0.Scope=user installer.Installers.0.InstallerSwitches.Custom=/CURRENTUSER \
  installer.Installers.0.ElevationRequirement="(missing)" installer.Installers.1.Scope=machine \
  installer.Installers.1.InstallerSwitches.Custom=/ALLUSERS installer.Installers.1.ElevationRequirement=elevatesSelf \
  installer.Installers.1.InstallerSha256="$(sha "$work/both/setup.exe")" || fail "the manifest of a package for both scopes"

# Expects a refusal whose message contains $1 (a fixed string), and nothing
# at $2 afterwards (- when --out exists before), nor any temporary folder
# beside it; the rest is the command.
refuses() {
  local expected=$1 out=$2
  shift 2
  if "$kxpack" manifest "$@" >"$work/msg" 2>&1; then
    fail "accepted: $*"
  elif ! grep -qF -- "$expected" "$work/msg"; then
    fail "message for '$*' lacks '$expected': $(cat "$work/msg")"
  fi
  [ "$out" != - ] && [ -e "$out" ] && fail "a refused manifest left $out"
  ls "$work" | grep -q kxpack-tmp && fail "a refused manifest left a temporary folder"
}
listing=(--id Quillmark.Toolkit --licence Proprietary --short-description "Quill and ink tools")
out=$work/refused
refuses "--url: 'http://example.com/setup.exe' is not an https:// address" "$out" \
  --installer "$quill" --url http://example.com/setup.exe --out "$out" "${listing[@]}"
refuses "--id: 'Quillmark' must be 2 to 8 names joined by dots" "$out" \
  --installer "$quill" --url "$url" --out "$out" --id Quillmark --licence Proprietary --short-description "Quill and ink tools"
refuses "--short-description: 'ab' is shorter than the 3 characters winget takes" "$out" \
  --installer "$quill" --url "$url" --out "$out" --id Q.T --licence MIT --short-description ab
refuses "the manifest needs a licence: --licence TEXT" "$out" \
  --installer "$quill" --url "$url" --out "$out" --id Q.T --short-description "Quill and ink tools"
refuses "manifest needs --installer, --url and --out" "$out" --installer "$quill" --out "$out" "${listing[@]}"
refuses "--id is given twice" "$out" --installer "$quill" --url "$url" --out "$out" "${listing[@]}" --id A.B
refuses "unknown option --bogus of manifest" "$out" --installer "$quill" --bogus 1
refuses "is an uninstaller (its package has no payload), not a setup program" "$out" \
  --installer "$uninst" --url "$url" --out "$out" "${listing[@]}"
refuses "no PE32+ headers the reader accepts" "$out" --installer "$second" --url "$url" --out "$out" "${listing[@]}"
refuses "is a folder, not a file" "$out" --installer "$work" --url "$url" --out "$out" "${listing[@]}"
cut_setup=$work/cut.exe
head -c $(($(stat -c %s "$quill") - 4096)) "$quill" >"$cut_setup"
refuses "$cut_setup: " "$out" --installer "$cut_setup" --url "$url" --out "$out" "${listing[@]}"
mkdir "$work/full" && echo mine >"$work/full/mine.txt"
refuses "--out: $work/full is not an empty folder" - --installer "$quill" --url "$url" --out "$work/full" "${listing[@]}"
[ "$(ls "$work/full")" = mine.txt ] || fail "a refused manifest changed a full --out folder"
echo file >"$work/file"
refuses "--out: $work/file exists and is not a folder" - --installer "$quill" --url "$url" --out "$work/file" "${listing[@]}"
ln -s "$work/quill" "$work/link"
refuses "--out: $work/link is a link" - --installer "$quill" --url "$url" --out "$work/link" "${listing[@]}"
rm "$work/link"
mkdir "$work/empty"
"$kxpack" manifest --installer "$quill" --url "$url" --out "$work/empty" "${listing[@]}" >/dev/null 2>&1 &&
  [ -f "$work/empty/Quillmark.Toolkit.yaml" ] || fail "an empty --out folder refused"

# A description that does not match the setup program, or whose [manifest]
# is bad, is refused with its file, line and key.
# described EDIT: a copy of the second package's description, sed-edited.
described() {
  sed "$1" "$second" >"$work/package.toml"
  grep -n -m1 -F "$2" "$work/package.toml" | cut -d: -f1
}
line=$(described 's/^version = "3.4.1"/version = "3.4.2"/' 'version = ')
refuses "package.toml:$line: product.version: '3.4.2' here, but $tide was built with '3.4.1'" "$out" \
  --installer "$tide" --url "$url" --package "$work/package.toml" --out "$out"
# That copy's pages and payload are not beside it: only its texts are read.
[ "$(wc -l <"$work/msg")" = 1 ] || fail "more than the version reported: $(cat "$work/msg")"
line=$(described 's/^id = .*/id = "Tidewater Charts"/' 'id = ')
refuses "package.toml:$line: manifest.id: 'Tidewater Charts' holds U+0020" "$out" \
  --installer "$tide" --url "$url" --package "$work/package.toml" --out "$out"
line=$(described 's/^licence = "Proprietary.*/license = "MIT"/' 'license = ')
refuses "package.toml:$line: manifest.license: unknown key (did you mean 'licence'?)" "$out" \
  --installer "$tide" --url "$url" --package "$work/package.toml" --out "$out"
line=$(described 's/^short_description = .*/short_description = "Tides\\nand charts"/' 'short_description = ')
refuses "package.toml:$line: manifest.short_description: 'Tides\\x0Aand charts' holds a control character" "$out" \
  --installer "$tide" --url "$url" --package "$work/package.toml" --out "$out"
# kxpack build checks the table as strictly.
line=$(described 's/^id = .*/id = "Tidewater"/' 'id = ')
"$kxpack" build --package "$work/package.toml" --out "$work/never.exe" >"$work/msg" 2>&1 && fail "build took a bad manifest.id"
grep -qF "package.toml:$line: manifest.id: 'Tidewater' must be 2 to 8 names" "$work/msg" || fail "build's message: $(cat "$work/msg")"

exit $((failures > 0))
