#!/usr/bin/env bash
# redi.dll's Windows-only parts that need no device, under Wine: REDI_DEVICE
# read as on Linux (device_choice.txt) and the exchange lock between
# processes (lock_turns.txt).
#   winredi_wine.sh WINDOWS-BUILD-DIR
# Exit code 77 (a skip, with the reason): no wine64, mingw-w64 or hidapi source.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd) build=$(realpath -m "$1")
# shellcheck source=../support/windows_build.sh
. "$here/../support/windows_build.sh"
need_wine "$build"
windows_build "$build"
probe=$build/tests/winredi/redi_probe.exe
fifos=$(mktemp -d) && trap 'rm -rf "$fifos"; "$(dirname "$wine")/wineserver" -k 2>/dev/null' EXIT
failed=0

"$wine" "$probe" choice <"$here/device_choice.txt" | tr -d '\r' >"$build/device_choice.out"
diff -u "$here/device_choice.txt" "$build/device_choice.out" || failed=1

# Each probe runs with a FIFO on either side, so that rows can wait for its
# next line and tell a holder when to let go.
declare -A paths pid in out
title=""
fail() { echo "FAIL: $title: $*"; failed=1; }
end_case() {
  for p in "${!pid[@]}"; do
    eval "exec ${in[$p]}>&- ${out[$p]}<&-"
    kill -9 "${pid[$p]}" 2>/dev/null
    wait "${pid[$p]}" 2>/dev/null
  done
  pid=() in=() out=()
}
while read -r first second rest; do
  case "$first" in
    '#'* | '') continue ;;
    path) paths[$second]=$rest; continue ;;
    ==) end_case; title="$second $rest"; continue ;;
  esac
  p=$first
  case "$second" in
    hold | take)
      mkfifo "$fifos/$p.in" "$fifos/$p.out"
      "$wine" "$probe" "$second" "${paths[$rest]}" <"$fifos/$p.in" >"$fifos/$p.out" 2>&1 &
      pid[$p]=$! in[$p]=$((10 + 2 * ${#pid[@]})) out[$p]=$((11 + 2 * ${#pid[@]}))
      eval "exec ${in[$p]}>\"\$fifos/\$p.in\" ${out[$p]}<\"\$fifos/\$p.out\""
      rm "$fifos/$p.in" "$fifos/$p.out" ;;
    says)
      line="" && read -r line <&"${out[$p]}"
      [ "${line%$'\r'}" = "$rest" ] || fail "$p said '${line%$'\r'}', not '$rest'" ;;
    release) echo >&"${in[$p]}" ;;
    killed) kill -9 "${pid[$p]}" && wait "${pid[$p]}" 2>/dev/null ;;
    *) fail "unknown row: $first $second $rest" ;;
  esac
done <"$here/lock_turns.txt"
end_case
[ $failed -eq 0 ] && echo "device choice and exchange lock as expected"
exit $failed
