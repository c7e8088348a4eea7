#!/usr/bin/env bash
# The Windows build under Wine: the conformance table gives the same
# transcript against Wine's registry as against the stand-in, so the
# stand-in's rules are the registry's. Logs in WINDOWS-BUILD-DIR/conformance.
#   wine_conformance.sh WINDOWS-BUILD-DIR NATIVE-registry_conformance
# Exit code 77 (a skip, with the reason): no mingw-w64, wine64 or hidapi source.
. "$(dirname "$0")/../support/suite.sh"
out=$1/conformance calls=$(dirname "$0")/registry_calls.txt
rm -rf "$out" && mkdir -p "$out/stores"
unset DISPLAY WAYLAND_DISPLAY
. "$(dirname "$0")/../windows/wine_session.sh" "$1"

"$2" "$out/stores" <"$calls" >"$out/stand-in.txt" || { cat "$out/stand-in.txt"; exit 1; }
"$wine" "$1/tests/winreg/registry_conformance.exe" <"$calls" 2>"$out/wine.err" | tr -d '\r' >"$out/wine.txt"
diff -u "$out/stand-in.txt" "$out/wine.txt" || { cat "$out/wine.err"; exit 1; }
tail -n 1 "$out/wine.txt"
