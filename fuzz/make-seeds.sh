#!/usr/bin/env bash
# The seed corpora, small and made by the project's own tools: packages and
# artwork from kxpack's writers (make_seeds), the package descriptions and
# names of the project's packages, and the program stubs of out/parts when
# the Windows build has made them.
#   fuzz/make-seeds.sh DIR   (the fuzz build folder is DIR/../build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
rm -rf "$dir"
for target in container_layout_fuzz artwork_fuzz pe_resources_fuzz description_fuzz name_rules_fuzz \
    uninstall_log_fuzz language_table_fuzz dialog_data_fuzz page_text_fuzz entry_names_fuzz archive_fuzz archive_header_fuzz \
    package_data_fuzz; do
  mkdir -p "$dir/$target"
done
"$dir/../build/make_seeds" "$dir"
cp "$top/packaging/starter/package.toml" "$dir/description_fuzz/starter.toml"
cp "$top/packaging/quillmark/package.toml" "$dir/description_fuzz/quillmark.toml"
cp "$top/tests/e2e/second_package/package.toml" "$dir/description_fuzz/tide-charts.toml"
for stub in setup-stub.exe uninstaller-stub.exe; do
  [ -f "$top/out/parts/$stub" ] && cp "$top/out/parts/$stub" "$dir/pe_resources_fuzz/$stub"
done
# Every quoted value of the descriptions is a name, path or folder text.
n=0
for toml in "$dir"/description_fuzz/*.toml; do
  grep -oE '= *"[^"]*"' "$toml" | sed 's/^= *"//; s/"$//' | while IFS= read -r value; do
    n=$((n + 1))
    printf '%s' "$value" >"$dir/name_rules_fuzz/$(basename "$toml" .toml)-$n"
  done
done
# The programs' runtime data and pages as they ship: the language tables,
# the dialog definitions, the page texts of the runtime and of the starter.
cp "$top"/runtime/kxlng.dat "$top"/runtime/languages/*.dat "$dir/language_table_fuzz/"
cp "$top/runtime/setup/kxdlg.dat" "$dir/dialog_data_fuzz/setup-kxdlg.dat"
cp "$top/runtime/uninstall/kxdlg.dat" "$dir/dialog_data_fuzz/uninstall-kxdlg.dat"
cp "$top"/runtime/pages/* "$top"/packaging/starter/pages/* "$dir/page_text_fuzz/"
# Entry names: every file of the runtime folder and of the starter's payload
# as a relative name, in UTF-16LE behind the two bytes that choose the
# destination's length and the path buffer's capacity (a real destination
# in the engine's 782 units).
n=0
(cd "$top/runtime" && find . -type f | sed 's|^\./||'; cd "$top/packaging/starter/payload" && find . -type f | sed 's|^\./|docs/|') |
  while IFS= read -r name; do
    n=$((n + 1))
    { printf '\x08\xc3'; printf '%s' "$name" | iconv -f UTF-8 -t UTF-16LE; } >"$dir/entry_names_fuzz/name-$n"
  done
# The header reader reads every archive the archive target reads.
cp "$dir"/archive_fuzz/*.7z "$dir/archive_header_fuzz/"
