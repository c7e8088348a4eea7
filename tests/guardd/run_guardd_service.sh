#!/usr/bin/env bash
# The real vnkestrix-guardd over the simulator's drop-in libredi, with a
# stand-in logind on a private D-Bus bus and a guard store of its own: a line
# at its level from the start fires only after the grace period, a row that
# vnkestrix-cli adds while the service runs fires without a restart, the
# watchdog is served at half its strobe, and SIGTERM stops it cleanly.
# Exit 0 pass, 1 fail, 77 skip.
#   run_guardd_service.sh GUARDD CLI FAKE_LOGIND DROPIN_DIR
. "$(dirname "$0")/../support/suite.sh"
guardd=$1 cli=$2
need dbus-daemon
on_fail() { sed 's/^/  guardd: /' "$work/guardd.err" >&2; }
. "$(dirname "$0")/private_logind.sh"
start_private_logind "$3" || fail "no stand-in logind"

export VNKESTRIX_REGISTRY=$work/registry.sqlite3 VNKESTRIX_GUARDD_STATUS=$work/status
export REDI_SIM_STATE=$work/controller.state LD_LIBRARY_PATH=$4
printf 'input_levels=0x08\nram.watchdog_strobe=4\n' >"$REDI_SIM_STATE" # GPIO 3 high; strobe 0.4 s
"$cli" guard set gpio3=1,shutdown || fail "guard set"
"$guardd" --config "$work/missing.conf" 2>"$work/guardd.err"
[ $? -eq 2 ] || fail "a configuration file named but missing did not stop the service with exit code 2"
printf 'poll-interval-ms = 20\ndebounce-ms = 100\nstartup-grace-s = 1\nserve-watchdog = yes\nstatus-file = %s\n' \
  "$work/status" >"$work/guardd.conf"
"$guardd" --config "$work/guardd.conf" 2>"$work/guardd.err" &
pids+=($!)
wait_for 5 test -f "$work/status" || fail "no status file"
status=$("$cli" guard status) || fail "guard status: $status"
for want in "service: running, pid $!" "gpio3=1,shutdown (now 1)" "gpio2=0,do-nothing (now 0)" \
            "watchdog: serving every 0.2 s" "last fired: nothing yet"; do
  grep -qxF "$want" <<<"$status" || fail "guard status lacks \"$want\": $status"
done
[ ! -s "$work/calls" ] || fail "fired within the grace period: $(cat "$work/calls")"
wait_for 5 grep -q PowerOff "$work/calls" || fail "GPIO 3 never fired"

"$cli" guard set gpio2=0,standby || fail "guard set while running"
wait_for 5 grep -q Suspend "$work/calls" && sleep 0.3 || fail "the changed table was not picked up"
[ "$(cut -d' ' -f1,2 "$work/calls")" = $'PowerOff interactive=0\nSuspend interactive=0' ] ||
  fail "want one PowerOff, then one Suspend, not interactive: $(cat "$work/calls")"
"$cli" guard status --json | grep -q '"last-fired": "gpio2 standby ' || fail "status --json: last fired"

kill -TERM $! && wait $!
rc=$?
[ $rc -eq 0 ] || fail "exit code $rc after SIGTERM"
[ ! -e "$work/status" ] || fail "the status file outlived the service"
"$cli" guard status >/dev/null 2>&1 && fail "guard status after the stop"
grep -q '^<4>stopped: the controller.s watchdog is no longer served' "$work/guardd.err" || fail "no stop warning"
serves=$(sed -n 's/^actions.serve_watchdog=//p' "$REDI_SIM_STATE")
[ "${serves:-0}" -ge 5 ] || fail "the watchdog was served $serves times in over a second at 0.2 s"
echo "PASS: grace, table change, watchdog serving ($serves), clean stop"
