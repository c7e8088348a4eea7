# Sourced (after tests/support/suite.sh, and a need for dbus-daemon) by the
# suites that run the real guard service over the simulator's drop-in libredi:
#   . service_over_dropin.sh BUILD_DIR
# Starts the stand-in logind on a private bus (private_logind.sh), keeps the
# simulator's state and call log and the guard store in $work, sets the
# table's row gpio3=1,shutdown and writes $work/conf: polling every 10 ms,
# firing at once, the status in $work/status, no metrics file unless the
# command line names a directory. Sets $build, $cli and $guardd.
. "$(dirname "${BASH_SOURCE[0]}")/private_logind.sh"
build=$(realpath "$1")
cli=$build/cli/vnkestrix-cli guardd=$build/guardd/vnkestrix-guardd
export VNKESTRIX_REGISTRY=$work/registry.sqlite3 LD_LIBRARY_PATH=$build/sim-dropin
export REDI_SIM_STATE=$work/state REDI_SIM_LOG=$work/redi.log
start_private_logind "$build/tests/guardd/fake_logind" || fail "no private logind"
printf 'poll-interval-ms = 10\ndebounce-ms = 0\nstartup-grace-s = 0\nstatus-file = %s/status\nmetrics-directory = none\n' "$work" >"$work/conf"
"$cli" guard set gpio3=1,shutdown || fail "guard set"

# start_service [ARGUMENT...]: the service on $work/conf in the background,
# its process $service, its stderr $work/err. Variables set before the call
# are its environment.
start_service() {
  "$guardd" --config "$work/conf" "$@" 2>"$work/err" &
  service=$!
  pids+=("$service")
}
# Reads and waits for reports alike: what the service does while it runs.
reads() { grep -cE 'GetCurrentInReport|ReadInputReport' "$REDI_SIM_LOG" 2>/dev/null; }
