#!/usr/bin/env bash
# The Windows build of the layers without Qt, under Wine: the conformance
# table gives the same transcript against Wine's registry as against the
# stand-in, so the stand-in's rules are the registry's.
#   wine_conformance.sh WINDOWS-BUILD-DIR NATIVE-registry_conformance
# Exit code 77 (a skip, with the reason): no mingw-w64, wine64 or hidapi source.
set -uo pipefail
build=$1 native=$2 calls=$(dirname "$0")/registry_calls.txt
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || { echo "SKIP: no wine64 (scripts/install-deps.sh --tests installs it)"; exit 77; }
mkdir -p "$build" && "$(dirname "$0")/../../scripts/build-windows.sh" "$build" >"$build/build.log" 2>&1 ||
  { rc=$?; tail -n 40 "$build/build.log"; [ $rc -eq 77 ] && echo "SKIP: see above"; exit $rc; }

rm -rf "$build/stores" && mkdir "$build/stores"
"$native" "$build/stores" <"$calls" >"$build/stand-in.txt" || { cat "$build/stand-in.txt"; exit 1; }
export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
"$wine" "$build/tests/winreg/registry_conformance.exe" <"$calls" 2>"$build/wine.err" | tr -d '\r' >"$build/wine.txt"
"$(dirname "$wine")/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null
diff -u "$build/stand-in.txt" "$build/wine.txt" || { cat "$build/wine.err"; exit 1; }
tail -n 1 "$build/wine.txt"
