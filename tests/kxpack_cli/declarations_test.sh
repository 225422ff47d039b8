#!/usr/bin/env bash
# A package's declarations beyond its files: the starter's commented
# examples build as they stand, their package data lines are what the
# programs read, and every kind of bad declaration is refused with file,
# line and key, leaving no output file.
#   declarations_test.sh KXPACK
set -uo pipefail
kxpack=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

starter=$work/starter
"$kxpack" init "$starter" >/dev/null || fail "init"
mkdir -p "$starter/payload/bin" && cp "$starter/payload/SampleApp.exe" "$starter/payload/bin/tool.exe"
# Every declaration the starter shows, uncommented.
sed -i -E '/^# \[\[association\]\]/,$ s/^# (\[\[|[a-z_]+ += )/\1/' "$starter/package.toml"
grep -q '^\[\[run\]\]' "$starter/package.toml" || fail "the starter shows no [[run]]"
"$kxpack" build --package "$starter/package.toml" --out "$work/a.exe" --stage "$work/stage" >"$work/msg" 2>&1 ||
  fail "the starter's declarations do not build: $(cat "$work/msg")"
data=$work/stage/runtime-setup/kxpackage.dat
for line in 'association.1.extension=.sample' 'association.1.progid=SampleApp.sample' \
    'association.1.program=SampleApp.exe' 'path.1.folder=.' 'environment.1.name=SAMPLEAPP_HOME' \
    'environment.1.value={install_folder}' "registry.1.key=HKA\\Software\\Sample Publisher\\Sample App" \
    'registry.1.type=string' 'registry.1.uninstall=remove' 'run.1.when=after_install' 'run.1.arguments=--register' \
    'run.1.wait=1' 'shortcut.1.name=Sample App' 'shortcut.1.location=start_menu' 'shortcut.1.target=SampleApp.exe' \
    'shortcut.1.arguments=--start' 'shortcut.1.working_folder=.' 'shortcut.1.icon_index=0' \
    'shortcut.2.location=desktop' 'shortcut.2.task=desktopicon' 'task.1.name=desktopicon' \
    'task.1.description=Create a desktop shortcut' 'task.1.default=1'; do
  grep -qxF -- "$line" "$data" || fail "no line '$line' in $(cat "$data")"
done
cmp -s "$data" "$work/stage/runtime-uninst/kxpackage.dat" || fail "the uninstaller's package data differs"

# A declarations table added at the end of a fresh copy of the starter.
# declares KEY MESSAGE LINE TOML: the build must fail with
# "package.toml:N: KEY: MESSAGE" (an ERE), N the LINE-th line of TOML.
declares() {
  local key=$1 message=$2 offset=$3 toml=$4 base line
  rm -rf "$work/case" && cp -r "$starter" "$work/case"
  sed -i -E '/^\[\[(association|path|environment|registry|run|shortcut|task)\]\]/,$ d' "$work/case/package.toml"
  base=$(wc -l <"$work/case/package.toml")
  printf '%s\n' "$toml" >>"$work/case/package.toml"
  line=$((base + offset))
  if "$kxpack" build --package "$work/case/package.toml" --out "$work/case/setup.exe" >"$work/msg" 2>&1; then
    fail "accepted: $key ($message)"
  elif ! grep -qE -- "package.toml:$line: $key: (.* )?$message" "$work/msg"; then
    fail "expected 'package.toml:$line: $key: $message', got: $(cat "$work/msg")"
  fi
  [ ! -e "$work/case/setup.exe" ] || fail "a refused build ($key) left an output file"
}

# Registry keys: only HKCU, HKLM\Software and the scope's own root.
for key in 'HKLM\System\CurrentControlSet\Services\x' 'HKEY_USERS\.DEFAULT\x' 'HKCR\.txt' 'HKLM\Software'; do
  declares 'registry\[1\]\.key' "'.*' must (begin with HKLM|lie below HKLM)" 2 "[[registry]]
key = '$key'
data = \"x\""
done
declares 'registry\[1\]\.key' 'lies below Software\\Classes' 2 "[[registry]]
key = 'HKCU\Software\Classes\.txt'"
declares 'registry\[1\]\.key' "the user's environment" 2 "[[registry]]
key = 'HKCU\Environment'"
declares 'registry\[1\]\.key' 'empty key name' 2 "[[registry]]
key = 'HKCU\Software\\\\Acme'"
declares 'registry\[1\]\.key' 'may not hold \{install_folder\}' 2 "[[registry]]
key = 'HKCU\Software\{install_folder}'"
declares 'registry\[1\]\.type' 'must be one of string, expand' 3 "[[registry]]
key = 'HKCU\Software\Acme'
type = \"sz\""
declares 'registry\[1\]\.data' "'12x' does not fit type dword" 4 "[[registry]]
key = 'HKCU\Software\Acme'
type = \"dword\"
data = \"12x\""
declares 'registry\[1\]\.data' "'4294967296' does not fit type dword" 4 "[[registry]]
key = 'HKCU\Software\Acme'
type = \"dword\"
data = 4294967296"
declares 'registry\[1\]\.data' 'does not fit type binary' 4 "[[registry]]
key = 'HKCU\Software\Acme'
type = \"binary\"
data = \"0g\""
declares 'registry\[1\]\.data' "may not hold '\|'" 4 "[[registry]]
key = 'HKCU\Software\Acme'
type = \"multi\"
data = [\"a\", \"b|c\"]"
declares 'registry\[1\]\.data' 'required for a dword value' 1 "[[registry]]
key = 'HKCU\Software\Acme'
type = \"dword\""
declares 'registry\[1\]\.uninstall' 'must be "remove" or "keep"' 3 "[[registry]]
key = 'HKCU\Software\Acme'
uninstall = \"never\""
declares 'registry\[2\]\.key' 'the same registry value is declared twice' 4 "[[registry]]
key = 'HKCU\Software\Acme'
[[registry]]
key = 'hkcu\software\acme'"
declares 'registry' 'must be an array of tables, \[\[registry\]\]' 1 "[registry]
key = 'HKCU\Software\Acme'"
# Associations, PATH, variables and programs.
declares 'association\[1\]\.extension' "'txt' must be a dot" 2 '[[association]]
extension = "txt"
program = "SampleApp.exe"
description = "x"'
declares 'association\[1\]\.progid' 'must be at most 39 letters' 2 '[[association]]
progid = "1Bad"
extension = ".x"
program = "SampleApp.exe"
description = "x"'
declares 'association\[1\]\.description' 'required key missing' 1 '[[association]]
extension = ".x"
program = "SampleApp.exe"'
declares 'association\[1\]\.program' "'Missing.exe' is not a file in the payload" 3 '[[association]]
extension = ".x"
program = "Missing.exe"
description = "x"'
declares 'association\[2\]\.extension' 'the same extension is declared twice' 6 '[[association]]
extension = ".x"
program = "SampleApp.exe"
description = "x"
[[association]]
extension = ".X"
program = "SampleApp.exe"
description = "y"'
declares 'association\[1\]\.colour' 'unknown key; \[\[association\]\] takes extension' 2 '[[association]]
colour = "red"'
declares 'path\[1\]\.folder' "'\.\./x' must not contain" 2 '[[path]]
folder = "../x"'
declares 'path\[1\]\.folder' "'lib' is not a folder in the payload" 2 '[[path]]
folder = "lib"'
declares 'path\[1\]\.folder' "'SampleApp.exe' is not a folder in the payload" 2 '[[path]]
folder = "SampleApp.exe"'
declares 'environment\[1\]\.name' 'not PATH' 2 '[[environment]]
name = "Path"
value = "x"'
declares 'environment\[1\]\.name' "without '='" 2 '[[environment]]
name = "A=B"
value = "x"'
declares 'environment\[1\]\.value' 'holds a control character' 3 '[[environment]]
name = "A"
value = "x\ny"'
declares 'run\[1\]\.when' 'must be "after_install" or "before_uninstall"' 2 '[[run]]
when = "later"
program = "SampleApp.exe"'
declares 'run\[1\]\.arguments' 'must be a list of texts' 3 '[[run]]
program = "SampleApp.exe"
arguments = "--quiet"'
declares 'run\[1\]\.wait' 'must be true or false' 3 '[[run]]
program = "SampleApp.exe"
wait = "yes"'
declares 'run\[1\]\.task' "'add to path' must be 1 to 32 letters" 3 '[[run]]
program = "SampleApp.exe"
task = "add to path"'
declares 'run' 'more than 8 \[\[run\]\] tables' 17 "$(for i in 1 2 3 4 5 6 7 8 9; do printf '[[run]]\nprogram = "SampleApp.exe"\n'; done)"

# Shortcuts: a name is one file name in its folder, never a way out of it.
for name in '..' 'a\b' 'a/b' 'CON' 'nul.txt' 'x.' 'a:b'; do
  declares 'shortcut\[1\]\.name' "'.*' must be a file name" 2 "[[shortcut]]
name = '$name'
target = \"SampleApp.exe\""
done
declares 'shortcut\[1\]\.name' 'must not be empty' 2 '[[shortcut]]
name = ""
target = "SampleApp.exe"'
declares 'shortcut\[1\]\.location' 'must be "start_menu" or "desktop"' 3 '[[shortcut]]
name = "x"
location = "quick_launch"
target = "SampleApp.exe"'
declares 'shortcut\[1\]\.target' "'Missing.exe' is not a file in the payload" 3 '[[shortcut]]
name = "x"
target = "Missing.exe"'
declares 'shortcut\[1\]\.target' 'required key missing' 1 '[[shortcut]]
name = "x"'
declares 'shortcut\[1\]\.working_folder' "'bin/tool.exe' is not a folder in the payload" 4 '[[shortcut]]
name = "x"
target = "SampleApp.exe"
working_folder = "bin/tool.exe"'
declares 'shortcut\[1\]\.icon_index' 'must be a number from 0 to 9999' 4 '[[shortcut]]
name = "x"
target = "SampleApp.exe"
icon_index = 10000'
declares 'shortcut\[2\]\.name' 'the same shortcut \(name and location\) is declared twice' 5 '[[shortcut]]
name = "Sample"
target = "SampleApp.exe"
[[shortcut]]
name = "SAMPLE"
target = "bin/tool.exe"'
# The [[shortcut]] tables replace the shortcut of [install]: naming that one too is a mistake.
rm -rf "$work/case" && cp -r "$starter" "$work/case"
sed -i -E '/^\[\[(association|path|environment|registry|run|shortcut|task)\]\]/,$ d' "$work/case/package.toml"
sed -i -E 's/^# shortcut = .*/shortcut = "Other"/' "$work/case/package.toml"
line=$(grep -n '^shortcut = "Other"' "$work/case/package.toml" | cut -d: -f1)
printf '[[shortcut]]\nname = "x"\ntarget = "SampleApp.exe"\n' >>"$work/case/package.toml"
if "$kxpack" build --package "$work/case/package.toml" --out "$work/case/setup.exe" >"$work/msg" 2>&1; then
  fail "install.shortcut accepted beside [[shortcut]]"
elif ! grep -qE "package.toml:$line: install\.shortcut: is not used when the package declares \[\[shortcut\]\]" "$work/msg"; then
  fail "expected 'package.toml:$line: install.shortcut: is not used ...', got: $(cat "$work/msg")"
fi
# Tasks: every task a declaration names is declared, each name once.
declares 'shortcut\[1\]\.task' "'desktop' is no declared task: declare it with \[\[task\]\]" 4 '[[shortcut]]
name = "x"
target = "SampleApp.exe"
task = "desktop"'
declares 'registry\[1\]\.task' "'Desktop_Icon' is no declared task.*or name one of the declared tasks" 8 '[[task]]
name = "desktopicon"
description = "Desktop shortcut"
[[registry]]
key = "HKCU\\Software\\Acme"
name = "x"
data = "y"
task = "Desktop_Icon"'
declares 'task\[2\]\.name' 'the same task is declared twice' 5 '[[task]]
name = "icons"
description = "a"
[[task]]
name = "ICONS"
description = "b"'
declares 'task\[1\]\.name' "'desktop-icon' must be 1 to 32 letters" 2 '[[task]]
name = "desktop-icon"
description = "x"'
declares 'task\[1\]\.name' "must be 1 to 32 letters" 2 '[[task]]
name = "abcdefghijklmnopqrstuvwxyz0123456"
description = "x"'
declares 'task\[1\]\.description' 'required key missing' 1 '[[task]]
name = "icons"'
declares 'task\[1\]\.default' 'must be true or false' 4 '[[task]]
name = "icons"
description = "x"
default = "yes"'
declares 'task' 'more than 8 \[\[task\]\] tables' 25 "$(for i in 1 2 3 4 5 6 7 8 9; do printf '[[task]]\nname = "t%s"\ndescription = "x"\n' $i; done)"
# A task matched without regard to case; one of [[run]] before the uninstall too.
rm -rf "$work/case" && cp -r "$starter" "$work/case"
sed -i -E '/^\[\[(association|path|environment|registry|run|shortcut|task)\]\]/,$ d' "$work/case/package.toml"
cat >>"$work/case/package.toml" <<'TOML'
[[task]]
name = "Register"
description = "Register & more: 100% of it"
[[run]]
when = "before_uninstall"
program = "SampleApp.exe"
task = "register"
TOML
"$kxpack" build --package "$work/case/package.toml" --out "$work/case/setup.exe" --stage "$work/case/stage" \
  >"$work/msg" 2>&1 || fail "a task named in another case: $(cat "$work/msg")"
for line in 'task.1.default=0' 'task.1.description=Register & more: 100% of it' 'run.1.task=register'; do
  grep -qxF -- "$line" "$work/case/stage/runtime-setup/kxpackage.dat" || fail "no line '$line'"
done

# A package for the current user names nothing machine-wide: an HKLM key is
# refused there, while HKA (its own root) and HKCU build.
rm -rf "$work/user" && cp -r "$starter" "$work/user"
sed -i -E '/^\[\[(association|path|environment|registry|run|shortcut|task)\]\]/,$ d' "$work/user/package.toml"
sed -i -E 's/^# scope = "current_user".*/scope = "current_user"/' "$work/user/package.toml"
grep -q '^scope = "current_user"' "$work/user/package.toml" || fail "the starter shows no scope key"
printf '[[registry]]\nkey = %s\ndata = "x"\n' "'HKA\Software\Acme'" >>"$work/user/package.toml"
"$kxpack" build --package "$work/user/package.toml" --out "$work/user/a.exe" >"$work/msg" 2>&1 ||
  fail "a current-user package with an HKA key is refused: $(cat "$work/msg")"
line=$(($(wc -l <"$work/user/package.toml") + 2))
printf '[[registry]]\nkey = %s\n' "'HKLM\Software\Acme\Machine'" >>"$work/user/package.toml"
if "$kxpack" build --package "$work/user/package.toml" --out "$work/user/b.exe" >"$work/msg" 2>&1; then
  fail "a current-user package may write HKLM"
elif ! grep -qE "package.toml:$line: registry\[2\]\.key: .* machine-wide" "$work/msg"; then
  fail "expected 'package.toml:$line: registry[2].key: ... machine-wide', got: $(cat "$work/msg")"
fi
[ ! -e "$work/user/b.exe" ] || fail "the refused current-user build left an output file"
# A package offering both scopes may be installed for the current user: the
# same key is refused there too.
sed -i -E 's/^scope = "current_user"/scope = "both"/' "$work/user/package.toml"
if "$kxpack" build --package "$work/user/package.toml" --out "$work/user/c.exe" >"$work/msg" 2>&1; then
  fail "a package offering both scopes may write HKLM"
elif ! grep -qE "package.toml:$line: registry\[2\]\.key: .* machine-wide" "$work/msg"; then
  fail "expected 'package.toml:$line: registry[2].key: ... machine-wide' for scope both, got: $(cat "$work/msg")"
fi
[ ! -e "$work/user/c.exe" ] || fail "the refused build offering both scopes left an output file"

# Arguments reach the program as written: kxpack quotes them as Windows
# splits a command line, so blanks, quotes and trailing backslashes survive.
rm -rf "$work/case" && cp -r "$starter" "$work/case"
sed -i -E '/^\[\[(association|path|environment|registry|run|shortcut|task)\]\]/,$ d' "$work/case/package.toml"
cat >>"$work/case/package.toml" <<'TOML'
[[run]]
program = "bin/tool.exe"
arguments = ["plain", "two words", 'say "hi"', 'C:\dir with blank\', "", "{install_folder}\\data"]
TOML
"$kxpack" build --package "$work/case/package.toml" --out "$work/case/setup.exe" --stage "$work/case/stage" \
  >"$work/msg" 2>&1 || fail "arguments: $(cat "$work/msg")"
grep -qxF 'run.1.arguments=plain "two words" "say \"hi\"" "C:\dir with blank\\" "" "{install_folder}\data"' \
  "$work/case/stage/runtime-setup/kxpackage.dat" || fail "quoted arguments: $(grep arguments "$work/case/stage/runtime-setup/kxpackage.dat")"
grep -qxF 'run.1.program=bin\tool.exe' "$work/case/stage/runtime-setup/kxpackage.dat" || fail "program path separators"

exit $((failures > 0))
