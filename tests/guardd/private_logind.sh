# Sourced by the guard service's test and benchmark: a private D-Bus bus in
# $work with the stand-in logind on it, which appends each call to
# $work/calls. Sets DBUS_SYSTEM_BUS_ADDRESS and adds both processes to the
# caller's pids array.
#   start_private_logind FAKE_LOGIND   (returns 1 with the reason on stderr)

# Waits up to $1 seconds for command $2... to succeed.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.05; done
}

start_private_logind() {
  cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>custom</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/>
  </policy>
</busconfig>
CONF
  dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile 2>"$work/bus.err" &
  pids+=($!)
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
  wait_for 10 test -S "$work/bus" || { echo "the private bus did not start: $(cat "$work/bus.err")" >&2; return 1; }
  "$1" "$work/calls" >"$work/logind.out" 2>&1 &
  pids+=($!)
  wait_for 10 grep -q ready "$work/logind.out" ||
    { echo "the stand-in logind did not start: $(cat "$work/logind.out")" >&2; return 1; }
}
