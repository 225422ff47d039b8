#!/usr/bin/env bash
# Packages from descriptions, with the prebuilt parts beside kxpack only: a
# starter that builds as it stands, the same bytes twice, the Quillmark
# package as the build made it, and every kind of bad description refused
# with file, line and key, leaving no output file.
#   package_description_test.sh KXPACK QUILLMARK_DESCRIPTION PAYLOAD_DIR SHIPPED_SETUP
set -uo pipefail
kxpack=$1 quillmark=$2 payload=$3 shipped=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

starter=$work/starter
"$kxpack" init "$starter" >/dev/null || fail "init"
"$kxpack" init "$starter" >"$work/msg" 2>&1 && fail "init wrote over a starter"
grep -q "not an empty folder" "$work/msg" || fail "init message: $(cat "$work/msg")"

# The starter builds as it stands, twice to the same bytes, and both runtimes
# carry its values.
"$kxpack" build --package "$starter/package.toml" --out "$work/a.exe" --stage "$work/stage" 2>"$work/starter-warnings" ||
  fail "starter build"
"$kxpack" build --package "$starter/package.toml" --out "$work/b.exe" || fail "second starter build"
cmp -s "$work/a.exe" "$work/b.exe" || fail "two builds of the starter differ"
data=$work/stage/runtime-setup/kxpackage.dat
head -n 1 "$data" | grep -qx "kxpackage 1" || fail "format line of $data"
grep -qx "product.uninstall_key=Sample App_[0-9A-F]\{8\}" "$data" || fail "default uninstall key: $(cat "$data")"
grep -qx "install.program=SampleApp.exe" "$data" || fail "program in $data"
cmp -s "$data" "$work/stage/runtime-uninst/kxpackage.dat" || fail "the runtimes carry different package data"
# The uninstaller's runtime archive is stored, so that the setup's compressed
# runtime, which carries the uninstaller, holds the core library once.
uninst=$work/stage/runtime-setup/kxremove.dat
read -r at length < <("$kxpack" info "$uninst" | sed -n 's/^runtime length: *\([0-9]*\) (at \([0-9]*\)).*/\2 \1/p')
tail -c +$((at + 1)) "$uninst" | head -c "$length" >"$work/uninst-runtime.7z"
7zz l -slt "$work/uninst-runtime.7z" >"$work/methods" || fail "the uninstaller's runtime archive does not open"
grep -q "^Path = KXCore64.dll" "$work/methods" || fail "no core library in the uninstaller's runtime"
grep "^Method = ." "$work/methods" | grep -vqx "Method = Copy" && fail "the uninstaller's runtime is compressed"
# The starter's images come at 100 % and 200 % and go into both runtimes
# under their scales' names.
for image in kxwaterm.bmp kxwaterm200.bmp kxheader.bmp kxheader200.bmp; do
  [ -f "$work/stage/runtime-setup/$image" ] || fail "no $image in the setup's runtime"
done
cmp -s "$starter/images/header-200.bmp" "$work/stage/runtime-uninst/kxheader200.bmp" ||
  fail "the uninstaller's runtime lacks the header at 200 %"
[ -e "$work/stage/runtime-uninst/kxwaterm.bmp" ] && fail "the uninstaller's runtime carries the watermark"
licence=$work/stage/runtime-setup/kxlicEnglish.rtf
grep -q '\\{braces\\}, back\\\\slashes' "$licence" || fail "licence text escapes: $(cat "$licence")"
grep -q '\\u233?' "$licence" && grep -q '\\u8364?' "$licence" || fail "licence characters beyond ASCII"

# Quillmark from its description gives the very bytes the build shipped.
"$kxpack" build --package "$quillmark" --payload "$payload" --out "$work/q.exe" || fail "Quillmark build"
cmp -s "$work/q.exe" "$shipped" || fail "Quillmark built again differs from $shipped"

# Paths past MAX_PATH under the default folder build, with a warning naming
# them (levels over 255 characters, which Linux cannot hold either, are
# refused by the shared name rules: kxpack_unit).
cp -r "$payload" "$work/longpayload"
deep=$work/longpayload/$(printf 'a%.0s' {1..120})/$(printf 'b%.0s' {1..120})
mkdir -p "$deep" && echo deep >"$deep/deep.txt"
"$kxpack" build --package "$quillmark" --payload "$work/longpayload" --out "$work/long.exe" >"$work/msg" 2>&1 ||
  fail "long paths refused: $(cat "$work/msg")"
grep -q "warning: .*payload.folder: 'a\{120\}/b\{120\}/deep.txt' is 2[0-9][0-9] characters long under C:.Program Files" "$work/msg" &&
  ! grep -q "warning: .*'README.txt'" "$work/msg" || fail "long path warning: $(cat "$work/msg")"

# Replaces the first line matching a pattern (an ERE) with a text, or drops
# it when the text is empty.
set_line() {
  P=$1 T=$2 awk '!done && $0 ~ ENVIRON["P"] { done = 1; if (ENVIRON["T"] != "") print ENVIRON["T"]; next } { print }' \
    package.toml >package.toml.new && mv package.toml.new package.toml
}

# refuses ANCHOR KEY MESSAGE COMMAND...: COMMAND breaks a fresh copy of the
# starter; the build must fail with "package.toml:LINE: KEY: MESSAGE" (an
# ERE), LINE being that of the starter's first line matching ANCHOR.
refuses() {
  local anchor=$1 key=$2 message=$3 line
  shift 3
  line=$(grep -n -m1 -E -- "$anchor" "$starter/package.toml" | cut -d: -f1)
  rm -rf "$work/case" && cp -r "$starter" "$work/case"
  (cd "$work/case" && "$@") || { fail "cannot set up the case $key"; return; }
  if "$kxpack" build --package "$work/case/package.toml" --out "$work/case/setup.exe" >"$work/msg" 2>&1; then
    fail "accepted: $key ($message)"
  elif ! grep -qE -- "package.toml:$line: $key: $message" "$work/msg"; then
    fail "expected 'package.toml:$line: $key: $message', got: $(cat "$work/msg")"
  fi
  [ ! -e "$work/case/setup.exe" ] || fail "a refused build ($key) left an output file"
  ls "$work/case" | grep -q kxpack-tmp && fail "a refused build ($key) left a temporary file"
}

refuses '^\[product\]' product.version 'required key missing from \[product\]' set_line '^version = ' ''
refuses '^url = ' product.colour 'unknown key' set_line '^url = ' 'colour = "red"'
refuses '^licence = ' pages.license "unknown key \(did you mean 'licence'\?\)" set_line '^licence = ' 'license = "pages/licence.txt"'
refuses '^version = ' product.version 'must be a text' set_line '^version = ' 'version = 1.0'
refuses '^open_folder = ' tasks.open_folder 'must be true or false' set_line '^open_folder = ' 'open_folder = "no"'
refuses '^\[payload\]' payload.folder 'required key missing' set_line '^folder = ' ''
refuses '^# uninstall_key' extras 'unknown key' set_line '^# uninstall_key' '[extras]'
refuses '^licence = ' pages.licence 'cannot read .*licence.txt: No such file' rm pages/licence.txt
refuses '^icon = ' pages.icon '.*images is a folder, not a file' set_line '^icon = ' 'icon = "images"'
refuses '^licence = ' pages.licence '.*SampleApp.exe must be a .rtf or a .txt file' set_line '^licence = ' 'licence = "payload/SampleApp.exe"'
refuses '^welcome = ' pages.welcome '.*welcome.rtf is not a Rich Text file' sh -c 'echo hello > pages/welcome.rtf'
refuses '^licence = ' pages.licence '.*licence.txt: line 2 is not UTF-8 text' sh -c "printf 'ok\n\377\n' > pages/licence.txt"
refuses '^header = ' pages.header '.*watermark.bmp is 175 x 345 pixels; the dialogs show it at 90 x 58' \
  set_line '^header = ' 'header = "images/watermark.bmp"'
refuses '^header = ' pages.header '.*header.bmp has 32 bits per pixel' \
  sh -c "printf ' ' | dd of=images/header.bmp bs=1 seek=28 conv=notrunc 2>/dev/null"
refuses '^watermark = ' pages.watermark '.*watermark.bmp is cut short' truncate -s 100000 images/watermark.bmp
refuses '^icon = ' pages.icon '.*app.ico is not an icon' cp images/header.bmp images/app.ico
refuses '^watermark = ' pages.watermark '.*copy.bmp is a second image at 100 % \(175 x 345 pixels\)' \
  sh -c 'cp images/watermark.bmp images/copy.bmp && sed -i "s|^watermark = .*|watermark = [\"images/watermark.bmp\", \"images/copy.bmp\"]|" package.toml'
refuses '^watermark = ' pages.watermark '.*logo.gif is neither a BMP nor a PNG image' \
  sh -c 'printf "GIF89a\001\000\001\000" > images/logo.gif && sed -i "s|watermark-200.bmp|logo.gif|" package.toml'
refuses '^header = ' pages.header '.*header-200.bmp is 350 x 690 pixels; the dialogs show it at 90 x 58 \(100 % scaling\), or 113 x 73 at 125 %' \
  cp images/watermark-200.bmp images/header-200.bmp
refuses '^header = ' pages.header '.*header-200.png is cut short' \
  sh -c 'printf "\211PNG\r\n\032\n" > images/header-200.png && sed -i "s|header-200.bmp|header-200.png|" package.toml'
refuses '^watermark = ' pages.watermark 'must be a file name in quotes, or a list of them' set_line '^watermark = ' 'watermark = []'
refuses '^watermark = ' pages.watermark 'must be a file name in quotes, or a list of them' set_line '^watermark = ' 'watermark = 7' 
refuses '^program = ' install.program "'bin/Missing.exe' is not a file in the payload folder" \
  set_line '^program = ' 'program = "bin/Missing.exe"'
refuses '^program = ' install.program "'../SampleApp.exe' must not contain" set_line '^program = ' 'program = "../SampleApp.exe"'
refuses '^name = ' product.name "'Sample: App' holds ':', which Windows forbids" set_line '^name = ' 'name = "Sample: App"'
refuses '^# shortcut = ' install.shortcut "'A\|B' holds '\|'" set_line '^# shortcut = ' 'shortcut = "A|B"'
refuses '^# uninstall_key' product.uninstall_key "'Sample\\\\App' holds '\\\\'" set_line '^# uninstall_key' "uninstall_key = 'Sample\\App'"
refuses '^# folder = ' install.folder "'Programs.Sample' must begin with a drive" set_line '^# folder = ' "folder = 'Programs\\Sample'"
refuses '^# wizard_label' product.wizard_label 'holds a control character' set_line '^# wizard_label' 'wizard_label = "a\tb"'
refuses '^# wizard_label' product.wizard_label 'holds a control character' set_line '^# wizard_label' 'wizard_label = "a\u0085b"'
refuses '^# scope = ' install.scope "'everyone' is none of \"all_users\", \"current_user\" and \"both\"" \
  set_line '^# scope = ' 'scope = "everyone"'
refuses '^# scope = ' install.scope 'must be a text' set_line '^# scope = ' 'scope = true'
refuses '^folder = "payload"' payload.folder 'folder .*payload is empty' sh -c 'rm -rf payload/*'

# The languages a package offers and the pages it gives in them.
first='^# A starter package'
offers() { set_line "$first" "languages = { $1 }"; }
refuses "$first" languages.offer "unknown language 'Klingon'; kxpack ships English, Arabic, " \
  offers 'offer = ["English", "Klingon"]'
refuses "$first" languages.offer "unknown language 'Germna' \(did you mean 'German'\?\)" offers 'offer = ["Germna"]'
refuses "$first" languages.offer "'german' is named twice" offers 'offer = ["German", "german"]'
refuses "$first" languages.offer 'must name at least one language' offers 'offer = []'
refuses "$first" languages.offer 'must be a list of language names in quotes' offers 'offer = "German"'
refuses "$first" languages.offer 'must be a list of language names in quotes' offers 'offer = ["German", 1031]'
refuses "$first" languages.ask 'must be true or false' offers 'ask = "yes"'
refuses "$first" languages.offr "unknown key \(did you mean 'offer'\?\)" offers 'offr = ["German"]'
icon='^icon = '
german_pages() { set_line "$icon" "German = { $1 }"; }
refuses "$icon" pages.Germna "unknown language 'Germna' \(did you mean 'German'\?\)" \
  set_line "$icon" 'Germna = { licence = "pages/licence.txt" }'
refuses "$icon" pages.German.foreword "unknown key" german_pages 'licence = "pages/licence.txt", foreword = "x"'
refuses "$icon" pages.German.licence 'must be a file name in quotes' german_pages 'licence = 3'
refuses "$icon" pages.German.licence 'cannot read .*none.txt' german_pages 'licence = "pages/none.txt"'
not_offered() { offers 'offer = ["English", "French"]' && german_pages 'licence = "pages/licence.txt"'; }
refuses "$icon" pages.German 'German is not among the languages the package offers' not_offered
# The starter gives all three pages itself, so a language that gives one
# must give the others: the package's are in one language.
refuses "$icon" pages.German.licence 'missing: \[pages.German\] gives pages of its own' \
  german_pages 'welcome = "pages/welcome.rtf"'

# English alone: the runtime is the one packages always had. Two languages
# with German first: German's own pages, English the package's, kxpack's
# texts in each language, both tables in both runtimes.
build_case() {
  rm -rf "$work/case" "$work/stage2" && cp -r "$starter" "$work/case"
  (cd "$work/case" && "$@") || fail "cannot set up the case"
  "$kxpack" build --package "$work/case/package.toml" --out "$work/case/setup.exe" --stage "$work/stage2" \
    >"$work/msg" 2>&1 || fail "build: $(cat "$work/msg")"
}
build_case offers 'offer = ["English"]'
runtime=$work/stage2/runtime-setup
[ "$(cd "$runtime" && ls kxlng* kxwelc* kxlic* kxfin* | tr '\n' ' ')" = \
  "kxfinEnglish.rtf kxlicEnglish.rtf kxlng.dat kxwelcEnglish.rtf " ] || fail "English alone: $(ls "$runtime")"
grep -q '^languages' "$runtime/kxpackage.dat" && fail "English alone has language lines"
grep -q '^#pkg' "$runtime/kxlng.dat" && fail "kxpack's own keys went into the package"
grep -q '^;' "$runtime/kxlng.dat" && fail "the table's comments went into the package"
cmp -s <(grep -v -e '^#pkg' -e '^;' "$(dirname "$kxpack")/parts/kxlng.dat") "$runtime/kxlng.dat" || fail "English table changed"

two_languages() {
  printf 'Lizenzvertrag f\303\274r Sample App\n' >pages/lizenz.txt
  offers 'offer = ["German", "English"]'
  german_pages 'welcome = "pages/welcome.rtf", licence = "pages/lizenz.txt", finish = "pages/finish.rtf"'
  set_line '^finish = ' ''
}
build_case two_languages
grep -q 'Lizenzvertrag f\\u252?r' "$runtime/kxlicGerman.rtf" || fail "German licence: $(cat "$runtime/kxlicGerman.rtf")"
cmp -s "$runtime/kxlicEnglish.rtf" "$work/stage/runtime-setup/kxlicEnglish.rtf" || fail "English keeps the package's licence"
grep -q 'Completing the Sample App Setup Wizard' "$runtime/kxfinEnglish.rtf" || fail "English finish is kxpack's"
grep -qx 'languages=1031,1033' "$runtime/kxpackage.dat" || fail "languages line: $(cat "$runtime/kxpackage.dat")"
grep -qx 'product.window_title=Sample App Setup (64-Bit)' "$runtime/kxpackage.dat" || fail "German title first"
grep -qx 'product.window_title.1033=Sample App Setup (64-bit)' "$runtime/kxpackage.dat" || fail "English title"
for side in setup uninst; do
  [ -f "$work/stage2/runtime-$side/kxlng1031.dat" ] && [ -f "$work/stage2/runtime-$side/kxlng.dat" ] ||
    fail "the $side runtime lacks a table"
done

# The version rules' keys: flags, checked as strictly as the others, written
# into the package data only when set; a version setup cannot order builds
# with a warning that names it.
refuses '^# folder = ' install.allow_downgrade 'must be true or false' set_line '^program = ' 'program = "SampleApp.exe"
allow_downgrade = "yes"'
refuses '^# folder = ' install.msi_exit_codes 'must be true or false' set_line '^program = ' 'program = "SampleApp.exe"
msi_exit_codes = 1'
refuses '^# folder = ' install.allow_downgrades 'unknown key \(did you mean .allow_downgrade.\?\)' \
  set_line '^program = ' 'program = "SampleApp.exe"
allow_downgrades = true'
grep -q '^install.allow_downgrade\|^install.msi_exit_codes' "$work/stage/runtime-setup/kxpackage.dat" &&
  fail "the starter's package data has a flag it does not set"
[ -s "$work/starter-warnings" ] && fail "the starter builds with warnings: $(cat "$work/starter-warnings")"
build_case set_line '^program = ' 'program = "SampleApp.exe"
allow_downgrade = true
msi_exit_codes = true'
grep -qx 'install.allow_downgrade=1' "$runtime/kxpackage.dat" && grep -qx 'install.msi_exit_codes=1' "$runtime/kxpackage.dat" ||
  fail "flags in the package data: $(cat "$runtime/kxpackage.dat")"
build_case set_line '^version = ' 'version = "2.1-beta"'
grep -qx "kxpack: .*package.toml:$(grep -n -m1 '^version = ' "$starter/package.toml" | cut -d: -f1): product.version: warning: '2.1-beta' cannot be ordered .*" "$work/msg" ||
  fail "no warning for a version that cannot be ordered: $(cat "$work/msg")"
[ -f "$work/case/setup.exe" ] || fail "a warning stopped the build"
build_case set_line '^version = ' 'version = "2.10.0"'
[ -s "$work/msg" ] && fail "a version that can be ordered warned: $(cat "$work/msg")"

# A description that is not TOML names its line and column; a missing one
# is refused as such; a refused build also removes an older package (and
# only a package: any other file might be an input not yet read).
rm -rf "$work/case" && cp -r "$starter" "$work/case"
(cd "$work/case" && set_line '^name = ' 'name = "Sample')
cp "$work/a.exe" "$work/case/setup.exe"
"$kxpack" build --package "$work/case/package.toml" --out "$work/case/setup.exe" >"$work/msg" 2>&1 && fail "syntax error accepted"
grep -qE "package.toml:$(grep -n -m1 '^name = ' "$starter/package.toml" | cut -d: -f1):[0-9]+: " "$work/msg" ||
  fail "syntax error message: $(cat "$work/msg")"
[ ! -e "$work/case/setup.exe" ] || fail "a refused build left the older output"
# A letter beyond ASCII where whitespace may stand is a syntax error like
# any other: toml++ 3.3.0 took U+00A1 and U+FEFB there for a case that
# cannot happen.
for stray in $'\xc2\xa1' $'\xef\xbb\xbb'; do  # U+00A1, U+FEFB
  rm -rf "$work/case" && cp -r "$starter" "$work/case"
  (cd "$work/case" && set_line '^name = ' "name = \"Sample\" $stray")
  "$kxpack" build --package "$work/case/package.toml" --out "$work/case/setup.exe" >"$work/msg" 2>&1 &&
    fail "a stray $stray accepted"
  grep -qE "package.toml:$(grep -n -m1 '^name = ' "$starter/package.toml" | cut -d: -f1):[0-9]+: " "$work/msg" ||
    fail "stray $stray message: $(cat "$work/msg")"
done
"$kxpack" build --package "$work/none.toml" --out "$work/x.exe" >"$work/msg" 2>&1 && fail "missing description accepted"
grep -q "cannot read .*none.toml" "$work/msg" || fail "missing description message: $(cat "$work/msg")"

exit $((failures > 0))
