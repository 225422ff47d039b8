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
for target in container_layout_fuzz artwork_fuzz pe_resources_fuzz description_fuzz name_rules_fuzz package_data_fuzz; do
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
