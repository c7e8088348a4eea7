#!/usr/bin/env bash
# The real vnkestrix-guardd over the simulator's drop-in libredi, with the
# stand-in logind on a private bus. The command lines of guardd_refusals.txt
# (a configuration that is not a regular file, an unknown option, a missing
# or relative value) stop it with exit code 2, named; the log has journal
# priority prefixes only when stderr is the journal's stream. While another
# process rewrites the store as fast as it can with two tables, neither of
# which fires on the lines as they are, nothing fires: every reading is one
# whole table. A store replaced by rename
# is followed at once. With logind stopped while a row fires, it goes on
# reading the controller and telling systemd it is alive, says once that
# logind is silent, and stops at once on SIGTERM; logind, resumed, then gets
# exactly one PowerOff. A line raised fires once in either report mode, and a
# controller that sends no input reports is polled, which is said once. It
# stops cleanly however busy the thread that waits for reports is.
#   guardd_process.sh BUILD_DIR
. "$(dirname "$0")/../support/suite.sh"
need dbus-daemon dbus-send python3
. "$(dirname "$0")/service_over_dropin.sh" "$1"

mkfifo "$work/fifo"
: >"$work/err"
while IFS='|' read -r args stream message; do
  eval "JOURNAL_STREAM=$(stat -c %d:%i "$work/$stream") timeout 10 \"\$guardd\" $args" 2>"$work/err"
  code=$?
  [ $code = 2 ] && head -n 1 "$work/err" | grep -qx -- "$message" || fail "$args: exit $code, $(cat "$work/err")"
done < <(sed '/^#/d; s/ | /|/g' "$(dirname "$0")/guardd_refusals.txt")

on_fail() { kill -CONT "$logind"; cat "$work/err" >&2; }
# What the service tells systemd, one datagram a line.
python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind(sys.argv[1])
with open(sys.argv[2], "ab", 0) as out:
    while True: out.write(s.recv(4096) + b"\n")' "$work/notify" "$work/notified" &
pids+=($!)
printf 'input_levels=0\n' >"$REDI_SIM_STATE"
wait_for 10 test -S "$work/notify" || fail "no notify socket"
NOTIFY_SOCKET=$work/notify WATCHDOG_USEC=1000000 start_service
wait_for 10 grep -q READY=1 "$work/notified" || fail "not ready"

# GPIO 3 is 0: "is 1, Shutdown" and "is 0, Do Nothing" never fire, their mix
# "is 0, Shutdown" would. One writer, one transaction a table, for 5 s; it
# ends after a whole transaction, leaving no journal behind for the next step.
tables() {
  local end=$((SECONDS + 5)) set="UPDATE reg_values SET data = X'%s000000' WHERE name = 'GPIO3 %s';"
  printf '.timeout 5000\nPRAGMA synchronous=OFF;\n'
  while [ $SECONDS -lt $end ]; do
    printf "BEGIN IMMEDIATE; $set $set COMMIT;\n" 01 Value 02 Action 00 Value 00 Action
  done
}
tables | sqlite3 "$VNKESTRIX_REGISTRY" || fail "the writer failed"
[ ! -s "$work/calls" ] || fail "fired on a mix of two tables: $(cat "$work/calls")"

cp "$VNKESTRIX_REGISTRY" "$work/restored.sqlite3"
VNKESTRIX_REGISTRY=$work/restored.sqlite3 "$cli" guard set gpio3=0,standby || fail "guard set aside"
mv "$work/restored.sqlite3" "$VNKESTRIX_REGISTRY"
wait_for 10 grep -qs Suspend "$work/calls" || fail "a store replaced by rename is not followed"
"$cli" guard set gpio3=1,shutdown gpio4=1,standby || fail "guard set"

# GPIO 4 raised fires once in report mode 0 (a report every sample) and once
# in mode 1 (a report only on a change), the mode changed under the running
# service; the status shows the line low again before the next round.
state() { printf "$1" >"$work/state.new" && mv "$work/state.new" "$REDI_SIM_STATE"; }
for mode in 0 1; do
  state "ram.report_mode=$mode\ninput_levels=16\n"
  wait_for 10 eval '[ "$(grep -c Suspend "$work/calls")" -gt $((mode + 1)) ]' || fail "mode $mode: no Suspend"
  state 'input_levels=0\n'
  wait_for 10 grep -q "^line.gpio4=1,1,0" "$work/status" || fail "mode $mode: the line stays high"
done

kill -STOP "$logind"
state 'ram.report_mode=0\ninput_levels=8\n'
wait_for 10 grep -q "logind has not answered PowerOff" "$work/err" || fail "no word of the silent logind"
pings() { grep -c WATCHDOG=1 "$work/notified"; }
reads0=$(reads) pings0=$(pings)
going_on() { [ "$(reads)" -gt $((reads0 + 2)) ] && [ "$(pings)" -gt $((pings0 + 2)) ]; }
wait_for 10 going_on || fail "the loop stopped: $(reads) reads, $(pings) keep-alives"
kill -TERM "$service"
# Far below the 25 s a blocking call to logind takes: a bound, not a speed.
wait_for 5 eval '! kill -0 "$service" 2>/dev/null' || fail "SIGTERM ignored while logind is silent"
wait "$service" || fail "exit code $?"
[ "$(grep -c "logind has not answered" "$work/err")" = 1 ] || fail "silence logged more than once"

kill -CONT "$logind"
# Answered only after every call queued before it.
dbus-send --system --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 \
  org.freedesktop.login1.Manager.Suspend boolean:false >/dev/null || fail "logind does not answer"
calls=$(sed 's/ at=.*//' "$work/calls")
[ "$calls" = "$(printf 'Suspend interactive=0\n%.0s' 1 2 3)"$'\nPowerOff interactive=0\nSuspend interactive=0' ] ||
  fail "logind got: $calls"
grep -q "polling" "$work/err" && fail "polled a controller that sends reports: $(cat "$work/err")"

# A controller that sends no input reports is polled, and that is said once.
: >"$work/calls"
state 'input_levels=0\n'
REDI_SIM_NO_INPUT_REPORTS=1 start_service
wait_for 10 grep -q "it sends no input reports" "$work/err" || fail "no word of the silent controller"
state 'input_levels=16\n'
wait_for 10 grep -qs Suspend "$work/calls" || fail "a polled line does not fire"
[ "$(grep -c polling "$work/err")" = 1 ] || fail "polling said more than once: $(cat "$work/err")"
kill -TERM "$service" && wait "$service" || fail "the polling service: exit code $?"

# Stopped while its listener thread is inside the library's wait, which
# nothing interrupts, with a report every millisecond: the process ends
# with the library still in use, each of 20 times with exit code 0 and
# "stopped" as the last word.
state 'ram.report_mode=0\nram.sample_rate=1\ninput_levels=0\n'
for round in $(seq 20); do
  start_service
  reads0=$(reads)
  wait_for 10 eval '[ "$(reads)" -gt $((reads0 + 5)) ]' || fail "round $round: no reports read"
  kill -TERM "$service"
  wait_for 10 eval '! kill -0 "$service" 2>/dev/null' || fail "round $round: running 10 s after SIGTERM: $(cat "$work/err")"
  wait "$service" || fail "round $round: exit code $?: $(cat "$work/err")"
  [ "$(tail -n 1 "$work/err")" = stopped ] || fail "round $round: $(cat "$work/err")"
done
echo "PASS"
