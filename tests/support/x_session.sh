# Sourced by the suites that drive the window as a user does (after
# suite.sh): an X server of the suite's own with no window manager, and
# xdotool finding windows by title and sending keys. The suite defines
# start NAME VAR=VALUE... (starts the program in the background, sets
# $running and $scenario, logs the calls to $out/NAME.calls and its output to
# $out/NAME.stderr); $patience is how many seconds a window may take to come.
need Xvfb xdotool import
patience=${patience:-20}

# -displayfd: a display number no other run uses, written once the server
# accepts connections. -noreset: a program connecting while the server
# resets after its last client left would be refused.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$out/xvfb.log" &
pids+=($!)
wait_for 30 test -s "$work/display" || fail "Xvfb did not start: $(cat "$out/xvfb.log")"
export DISPLAY=:$(cat "$work/display")

on_fail() {
  import -window root "$out/failure.png" 2>/dev/null
  echo "the program's output and calls, and a screenshot, are in $out" >&2
}
# Sets $window to the visible window titled exactly $1, if there is one.
shown() { window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1); [ -n "$window" ]; }
gone() { ! shown "$1"; }
ended() { ! kill -0 "$running" 2>/dev/null; }
# Focuses window $1 and sends the keys that follow; KEY*N is N presses of KEY.
keys() {
  local word i sequence=()
  for word in "${@:2}"; do
    [[ $word =~ ^(.+)\*([0-9]+)$ ]] || { sequence+=("$word"); continue; }
    for ((i = 0; i < BASH_REMATCH[2]; i++)); do sequence+=("${BASH_REMATCH[1]}"); done
  done
  xdotool windowfocus --sync "$1" key --delay 40 "${sequence[@]}"
}
# Waits for the window titled $1; $window is then its id.
appears() { wait_for "$patience" shown "$1" || fail "[$scenario] no window \"$1\""; }
# Answers the modal box titled $1 with Return.
confirm() {
  appears "$1"
  keys "$window" Return
  wait_for "$patience" gone "$1" || fail "[$scenario] the box \"$1\" stays"
}
# Waits for the program to end with exit code $1.
ends_with() {
  wait_for "$patience" ended || fail "[$scenario] the program did not end"
  wait "$running"
  local code=$?
  [ "$code" = "$1" ] || fail "[$scenario] exit code $code, expected $1: $(cat "$out/$scenario.stderr")"
}
# The call log as tests/e2e/controller_calls.txt writes it.
calls() { sed -E 's/ reply=.*//; s/ req=(.{12})/ \1 /; s/(00)+$//; s/ $//' "$out/$scenario.calls"; }
