# Sourced by the guard service's shell test and its benchmark (after
# tests/support/suite.sh): a private D-Bus bus in $work (the permissive
# session configuration) with the stand-in logind on it, which appends each
# call to $work/calls. Sets DBUS_SYSTEM_BUS_ADDRESS and $logind, and adds both
# processes to the pids array.
#   start_private_logind FAKE_LOGIND   (returns 1 with the reason on stderr)
start_private_logind() {
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
  pids+=("$(dbus-daemon --session --address="$DBUS_SYSTEM_BUS_ADDRESS" --fork --print-pid --nopidfile)") || return 1
  "$1" "$work/calls" >"$work/logind.out" 2>&1 &
  logind=$!
  pids+=("$logind")
  wait_for 10 grep -q ready "$work/logind.out" || { echo "no stand-in logind: $(cat "$work/logind.out")" >&2; return 1; }
}
