# Sourced by the guard service's benchmark: a private D-Bus bus in
# $work (the permissive session configuration) with the stand-in logind on
# it, which appends each call to $work/calls. Sets DBUS_SYSTEM_BUS_ADDRESS
# and adds both processes to the caller's pids array.
#   start_private_logind FAKE_LOGIND   (returns 1 with the reason on stderr)

# Waits up to $1 seconds for command $2... to succeed.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.05; done
}

start_private_logind() {
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
  pids+=("$(dbus-daemon --session --address="$DBUS_SYSTEM_BUS_ADDRESS" --fork --print-pid --nopidfile)") || return 1
  "$1" "$work/calls" >"$work/logind.out" 2>&1 &
  pids+=($!)
  wait_for 10 grep -q ready "$work/logind.out" || { echo "no stand-in logind: $(cat "$work/logind.out")" >&2; return 1; }
}
