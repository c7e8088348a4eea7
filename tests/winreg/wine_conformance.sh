#!/usr/bin/env bash
# The Windows build under Wine: the conformance table's calls give the
# results it states against Wine's registry, as winreg_conformance proves
# they do against the stand-in (one transcript, the table's own lines), so
# the stand-in's rules are the registry's. Logs in WINDOWS-BUILD-DIR/conformance.
#   wine_conformance.sh WINDOWS-BUILD-DIR
# Exit code 77 (a skip, with the reason): no mingw-w64, wine64 or hidapi source.
. "$(dirname "$0")/../support/suite.sh"
out=$1/conformance calls=$(dirname "$0")/registry_calls.txt
rm -rf "$out" && mkdir -p "$out"
unset DISPLAY WAYLAND_DISPLAY
. "$(dirname "$0")/../windows/wine_session.sh" "$1"

# The program checks each result itself: a line it marks "!!" differs.
"$wine" "$1/tests/winreg/registry_conformance.exe" <"$calls" 2>"$out/wine.err" | tr -d '\r' >"$out/wine.txt" ||
  fail "$(grep -F '!!' "$out/wine.txt"; tail -n 1 "$out/wine.txt"; cat "$out/wine.err")"
tail -n 1 "$out/wine.txt"
