#!/usr/bin/env bash
# The installed program on an X server of its own, with no window manager,
# started from its desktop entry's Exec line and driven as a user drives it:
# xdotool finds windows by title and sends keys. The simulator's libredi.so.1
# takes the real one's place (LD_LIBRARY_PATH over the RUNPATH); its call log
# must match controller_calls.txt call for call, and the guard store, read by
# another process, guard_store.txt. The logs and a screenshot of a failure
# go to OUT.
#   run.sh OUT DROPIN_DIR CMAKE BUILD_DIR    (exit code 77: a tool is missing)
. "$(dirname "$0")/../support/suite.sh"
out=$1 dropin=$2 here=$(dirname "$0")
need Xvfb xdotool sqlite3
rm -rf "$out" && mkdir -p "$out" && mkdir -m 700 "$work/runtime"
env -u DESTDIR "$3" --install "$4" --prefix "$work/prefix" >"$out/install.log" 2>&1 || fail "cmake --install, see $out/install.log"
# Field codes (%f, %U, ...) stand for the files a menu passes; there are none.
exec_line=$(sed -n 's/^Exec=//p' "$work/prefix/share/applications/vnkestrix.desktop" | sed 's/ *%[a-zA-Z]//g')

# -displayfd: a display number no other run uses, written once the server
# accepts connections. -noreset: a program connecting while the server
# resets after its last client left would be refused.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$out/xvfb.log" &
pids+=($!)
wait_for 30 test -s "$work/display" || fail "Xvfb did not start: $(cat "$out/xvfb.log")"
# A fixed locale, so that typed decimals mean the same everywhere; no session
# bus, and libdbus must not autolaunch one. Under AddressSanitizer the strict
# string checks trip over the X keyboard library (a strndup of a buffer that
# is not NUL-terminated).
export DISPLAY=:$(cat "$work/display") LC_ALL=C.UTF-8 DBUS_SESSION_BUS_ADDRESS=disabled: QT_QPA_PLATFORM=xcb \
  XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config VNKESTRIX_REGISTRY=$out/guard.sqlite3 \
  REDI_SIM_STATE=$out/controller.state ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS:strict_string_checks=0}

on_fail() {
  import -window root "$out/failure.png" 2>/dev/null
  echo "the program's output and calls, and a screenshot, are in $out" >&2
}
# Starts the program as a menu would, with the installed bin/ on PATH.
start() {
  scenario=$1
  env "${@:2}" PATH="$work/prefix/bin:$PATH" LD_LIBRARY_PATH="$dropin" REDI_SIM_LOG="$out/$1.calls" \
    sh -c "exec $exec_line" >"$out/$1.stderr" 2>&1 &
  running=$! && pids+=($!)
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
# Answers the modal box titled $1 with Return.
confirm() {
  wait_for 20 shown "$1" || fail "[$scenario] no box \"$1\""
  keys "$window" Return
  wait_for 10 gone "$1" || fail "[$scenario] the box \"$1\" stays"
}
# Waits for the program to end with exit code $1.
ends_with() {
  wait_for 20 ended || fail "[$scenario] the program did not end"
  wait "$running"
  local code=$?
  [ "$code" = "$1" ] || fail "[$scenario] exit code $code, expected $1: $(cat "$out/$scenario.stderr")"
}
# The call log as controller_calls.txt writes it.
calls() { sed -E 's/ reply=.*//; s/ req=(.{12})/ \1 /; s/(00)+$//; s/ $//' "$out/$scenario.calls"; }

# No controller: the question comes before the main window; each answer and
# its exit code. In demo mode no page, not even GPIO's Write, reaches the
# library, where any call would fail.
for row in "Escape 1" "alt+n 1" "Return 0"; do
  read -r key code <<<"$row"
  start "no-controller-$key" REDI_SIM_ABSENT=1
  wait_for 20 shown "No emmbedded controller found" || fail "[$scenario] no demo-mode question"
  question=$window
  ! shown "Vantrel Kestrix 0.9" || fail "[$scenario] the main window is there while the question is open"
  keys "$question" "$key"
  if [ "$code" = 0 ]; then
    wait_for 20 shown "Vantrel Kestrix 0.9" || fail "[$scenario] no main window in demo mode"
    keys "$window" ctrl+Tab 'Tab*33' space ctrl+Tab ctrl+Tab ctrl+q
  fi
  ends_with "$code"
  [ "$(calls)" = "Usk_FindSensor_a - sel=19 args=0,0,0,0,0,0 rejected" ] || fail "[$scenario] calls: $(calls)"
done

# With the controller: one change and the save on every page, the actions,
# the GPIO lines and the guard table. The focus starts on the tab bar, and
# moves to a page's first field when the page is opened from a save button.
printf 'input_levels=0xa5\n' >"$REDI_SIM_STATE"
"$work/prefix/bin/vnkestrix-cli" guard set pwrbtn=0,standby || fail "vnkestrix-cli guard set"
start controller
wait_for 20 shown "Vantrel Kestrix 0.9" || fail "[$scenario] no main window"
main=$window
! shown "No emmbedded controller found" || fail "[$scenario] the demo-mode question with the controller there"
# Misc.: serial number, sampling rate, S3 mode, the THRM mnemonic (the focus
# stays on the S3 mode), Save.
keys "$main" Tab K X 2 0 2 4 Return Tab Tab 1 0 0 Return Tab Down alt+r Tab Tab space
confirm Information
# GPIO: direction box 2; output boxes 0 and 7 and Write, past the rest of the
# direction row and the output-mode and standby rows; Read; Save.
keys "$main" ctrl+Tab Tab Tab space 'Tab*22' space 'Tab*7' space Tab space 'Tab*9' space Tab space
confirm Information
# Watchdog: through mode and delay to the strobe; the sources "Interrupt Out",
# "Feature Report", "USB Host Polling"; past "SCH GPIO" to "Serve Watchdog"; Save.
keys "$main" ctrl+Tab Tab Tab 1 period 3 Return Tab Tab Tab space Tab Tab space Tab Tab space
confirm Information
# Power Management: the first box, then past the other three to Save.
keys "$main" ctrl+Tab Tab space 'Tab*4' space
confirm Information
# Guard: each row is a level box, then an action box.
keys "$main" ctrl+Tab 'Tab*7' Down Down 'Tab*9' Down 'Tab*4' space
confirm "Settings saved"
# "Saved" means stored: another process reads it while the program runs.
diff <(grep -v '^#' "$here/guard_store.txt") <(sqlite3 "$VNKESTRIX_REGISTRY" "SELECT name, type, hex(data) FROM reg_values
  WHERE key = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Brivane' ORDER BY name") || fail "guard store (< expected, > stored)"
keys "$main" ctrl+q
ends_with 0
diff <(grep -v '^#' "$here/controller_calls.txt") <(calls) || fail "controller calls (< expected, > made)"
echo "PASS: the demo-mode question, the pages' changes and saves, the guard table, Ctrl+Q"
