#!/usr/bin/env bash
# Installs what the build and the tests need and does nothing when all is there:
# Debian packages, and the LZMA SDK decoder sources taken from Debian's 7zip
# source package (unpacked into the build tree, never committed).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BUILD_DIR:-$top/build}
sdk=$build/third_party/lzma

# libpng-dev: kxpack decodes the PNG images a package gives. fonts-noto-cjk:
# the Japanese, Chinese and Korean wizards' glyphs under Wine.
packages=(cmake make g++ g++-mingw-w64-x86-64-posix wine64 xvfb xauth 7zip googletest libtomlplusplus-dev xz-utils
          osslsigncode openssl libssl-dev icoutils python3 python3-yaml python3-jsonschema clang libclang-rt-14-dev
          locales libpng-dev fonts-noto-cjk)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Wine takes a process's language from LANG, but only for a locale the C
# library has: the language tests run the programs in these.
for locale in de_DE ja_JP ar_EG ko_KR fr_FR es_ES it_IT pt_BR nl_NL pl_PL ru_RU tr_TR zh_CN; do
  if ! locale -a 2>/dev/null | grep -qx "$locale.utf8"; then
    as_root=()
    [ "$(id -u)" -ne 0 ] && as_root=(sudo)
    "${as_root[@]}" localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
  fi
done

# The decoder files we compile, plus every header of the SDK's C folder.
decoder_sources=(7zArcIn 7zDec 7zStream 7zFile 7zCrc 7zCrcOpt CpuArch LzmaDec Lzma2Dec Bcj2 Bra86 Bra 7zBuf Delta)

if [ ! -f "$sdk/C/7zArcIn.c" ]; then
  echo "bootstrap: fetching the LZMA SDK decoder sources from Debian's 7zip source package"
  work=$build/downloads
  rm -rf "$work"
  mkdir -p "$work/sources" "$work/lists/partial" "$work/pkg"
  src_list=$(ls /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 || true)
  if [ -n "$src_list" ]; then
    sed 's/^Types: deb$/Types: deb-src/' "$src_list" > "$work/sources/deb-src.sources"
  else
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "$work/sources/deb-src.list"
  fi
  apt_opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/sources"
            -o Dir::State::Lists="$work/lists" -o Debug::NoDropPrivs=true)
  apt-get "${apt_opts[@]}" update -qq >/dev/null
  (cd "$work/pkg" && apt-get "${apt_opts[@]}" source --download-only 7zip >/dev/null 2>&1)
  tarball=$(ls "$work"/pkg/7zip_*.orig.tar.* | head -n 1)
  tar tf "$tarball" > "$work/listing"
  root=$(sed -n '1s,/.*,,p' "$work/listing")
  members=()
  while IFS= read -r m; do members+=("$m"); done < <(grep -E "^$root/C/[^/]+\.h$" "$work/listing")
  for s in "${decoder_sources[@]}"; do members+=("$root/C/$s.c"); done
  rm -rf "$sdk.tmp"
  mkdir -p "$sdk.tmp"
  tar xf "$tarball" -C "$sdk.tmp" --strip-components=1 "${members[@]}"
  rm -rf "$sdk"
  mv "$sdk.tmp" "$sdk"
  rm -rf "$work"
fi
