#!/usr/bin/env bash
# Builds the Windows installer from the program's folder:
#   scripts/build-msi.sh STAGING-DIR OUTPUT.msi [VERSION]
# STAGING-DIR is what `cmake --install BUILD --prefix STAGING-DIR` of the
# Windows build puts there (vnkestrix.exe beside everything it needs);
# VERSION is the project's unless given (the tests build two to try an
# upgrade). Exit code 77: no wixl (package wixl, from msitools' source).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 2 ] || { echo "usage: build-msi.sh STAGING-DIR OUTPUT.msi [VERSION]" >&2; exit 2; }
stage=$(realpath "$1") output=$(realpath -m "$2")
version=${3:-$(sed -n 's/^project(VnKestrix VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")}
command -v wixl >/dev/null && command -v wixl-heat >/dev/null ||
  { echo "no wixl (scripts/install-deps.sh --tests installs it)" >&2; exit 77; }
[ -f "$stage/vnkestrix.exe" ] || { echo "build-msi: $stage has no vnkestrix.exe" >&2; exit 1; }

work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
# wixl takes the files' paths relative to the folder it runs in.
ln -s "$stage" "$work/stage"
cp "$root/Resources/vnkestrix.ico" "$root/packaging/windows/vnkestrix.wxs" "$work/"
cd "$work"
# Every file but the window's own, which vnkestrix.wxs lists with its shortcut.
(cd stage && find . -type f ! -path ./vnkestrix.exe | sed 's|^\./||' | LC_ALL=C sort) |
  wixl-heat --prefix "" --var var.SourceDir --directory-ref INSTALLDIR --component-group ProgramFolder \
    --win64 >folder.wxs
wixl --arch x64 -D Version="$version" -D SourceDir=stage -D Win64=yes -D IconFile=vnkestrix.ico \
  -o "$output" vnkestrix.wxs folder.wxs
echo "$output: Vantrel Kestrix $version"
