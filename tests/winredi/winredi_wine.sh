#!/usr/bin/env bash
# redi.dll's Windows-only parts that need no device, under Wine: REDI_DEVICE
# read as on Linux (device_choice.txt) and the exchange lock between
# processes (lock_turns.txt).
#   winredi_wine.sh WINDOWS-BUILD-DIR OUT
# Exit code 77 (a skip, with the reason): no wine64, mingw-w64 or hidapi source.
. "$(dirname "$0")/../support/suite.sh"
here=$(cd "$(dirname "$0")" && pwd) out=$(realpath -m "$2")
rm -rf "$out" && mkdir -p "$out"
unset DISPLAY WAYLAND_DISPLAY
. "$here/../windows/wine_session.sh" "$(realpath -m "$1")"
probe=$windows_build/tests/winredi/redi_probe.exe

"$wine" "$probe" choice <"$here/device_choice.txt" | tr -d '\r' >"$work/device_choice.out"
diff -u "$here/device_choice.txt" "$work/device_choice.out" || fail "REDI_DEVICE read otherwise"

# Each probe runs with a FIFO on either side, so that rows can wait for its
# next line and tell a holder when to let go; a case's probes end with it.
declare -A paths pid to from
end_case() { for p in "${!pid[@]}"; do kill -9 "${pid[$p]}"; wait "${pid[$p]}"; done 2>/dev/null; pid=(); }
while read -r first second rest; do
  case "$first $second" in
    '#'* | ' ') ;;
    path\ *) paths[$second]=$rest ;;
    ==\ *) end_case && title="$second $rest" ;;
    *\ hold | *\ take)
      rm -f "$work/$first".* && mkfifo "$work/$first.in" "$work/$first.out"
      "$wine" "$probe" "$second" "${paths[$rest]}" <"$work/$first.in" >"$work/$first.out" 2>&1 &
      pid[$first]=$!
      exec {to[$first]}>"$work/$first.in" {from[$first]}<"$work/$first.out" ;;
    *\ says)
      line="" && read -r line <&"${from[$first]}"
      [ "${line%$'\r'}" = "$rest" ] || fail "$title: $first said '${line%$'\r'}', not '$rest'" ;;
    *\ release) echo >&"${to[$first]}" ;;
    *\ killed) kill -9 "${pid[$first]}" && wait "${pid[$first]}" 2>/dev/null ;;
    *) fail "unknown row: $first $second $rest" ;;
  esac
done <"$here/lock_turns.txt"
end_case
echo "device choice and exchange lock as expected"
