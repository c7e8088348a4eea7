#!/usr/bin/env bash
# The installed program, driven only through an X server of its own, the way
# a user drives it: xdotool finds windows by title and sends keys. The
# controller simulator's libredi.so.1 stands in for the real library, and its
# call log shows what reached the controller.
#
#   run.sh --out DIR --dropin DIR (--install CMAKE BUILD | --program PATH --cli PATH)
#
# --install puts the build into a temporary prefix and runs bin/vnkestrix
# from there; --program runs a program as it is. A screenshot of every step
# and the simulator's files go to DIR. Exit 0 pass, 1 fail, 77 skip.
set -uo pipefail

out='' dropin='' program='' cli='' cmake='' build=''
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=$2; shift 2 ;;
    --dropin) dropin=$2; shift 2 ;;
    --install) cmake=$2 build=$3; shift 3 ;;
    --program) program=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$out" ] || [ -z "$dropin" ] || { [ -z "$build" ] && [ -z "$program" ]; }; then
  echo "usage: run.sh --out DIR --dropin DIR (--install CMAKE BUILD | --program PATH --cli PATH)" >&2
  exit 2
fi

for tool in Xvfb xdpyinfo xdotool import sqlite3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps.sh --tests)"; exit 77; }
done

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
mkdir -m 700 "$work/runtime"
xvfb='' running='' window='' exit_code=''
cleanup() {
  [ -n "$running" ] && { kill -9 "$running"; wait "$running"; } 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

if [ -n "$build" ]; then
  if ! env -u DESTDIR "$cmake" --install "$build" --prefix "$work/prefix" >"$out/install.log" 2>&1; then
    cat "$out/install.log" >&2
    echo "FAIL: cmake --install failed (is everything built?)" >&2
    exit 1
  fi
  program=$work/prefix/bin/vnkestrix cli=$work/prefix/bin/vnkestrix-cli
fi
for f in "$program" "$cli" "$dropin/libredi.so.1"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "FAIL: $f is missing" >&2; exit 1; }
done

# A display number that no other run is using, chosen by the server itself.
# -noreset: by default the server resets whenever its last client leaves,
# and a program connecting during that reset is refused.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" >"$out/xvfb.log" 2>&1 &
xvfb=$!
# The server writes the number, newline-terminated, once it accepts
# connections; a machine under load can take a while.
for _ in $(seq 300); do [ "$(wc -l <"$work/display")" -ge 1 ] && break; sleep 0.1; done
[ "$(wc -l <"$work/display")" -ge 1 ] || { echo "FAIL: Xvfb did not start" >&2; cat "$out/xvfb.log" >&2; exit 1; }
display=$(head -n 1 "$work/display")
export DISPLAY=":$display"
xdpyinfo >/dev/null 2>&1 || { echo "FAIL: cannot connect to Xvfb on $DISPLAY" >&2; cat "$out/xvfb.log" >&2; exit 1; }

scenario=start step=0
fail() {
  echo "FAIL [$scenario]: $*" >&2
  if [ -n "$running" ] && ! kill -0 "$running" 2>/dev/null; then
    echo "the program has ended; its error output:" >&2
    sed 's/^/  /' "$out/$scenario.stderr" >&2
  fi
  import -window root "$out/$scenario-failure.png" 2>/dev/null
  echo "screenshots and the simulator's files are in $out" >&2
  exit 1
}

shoot() {
  step=$((step + 1))
  sleep 0.2 # the last key's repaint
  import -window "$1" "$(printf '%s/%s-%02d-%s.png' "$out" "$scenario" "$step" "$2")" 2>/dev/null
}

# Waits for the visible window titled exactly $1 and sets $window to it.
window_titled() {
  for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$window" ] && return
    kill -0 "$running" 2>/dev/null || break
    sleep 0.1
  done
  fail "no window titled \"$1\" appeared"
}

no_window_titled() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null)
    [ -z "$id" ] && return
    sleep 0.1
  done
  fail "the window \"$1\" is still there"
}

# There is no window manager: the window gets the keyboard from us. A word
# KEY*N stands for N presses of KEY.
keys() {
  local window=$1 word i
  local -a sequence=()
  shift
  for word in "$@"; do
    if [[ $word =~ ^(.+)\*([0-9]+)$ ]]; then
      for ((i = 0; i < BASH_REMATCH[2]; i++)); do sequence+=("${BASH_REMATCH[1]}"); done
    else
      sequence+=("$word")
    fi
  done
  xdotool windowfocus --sync "$window" key --delay 40 "${sequence[@]}"
}

type_text() {
  xdotool windowfocus --sync "$1" type --delay 40 "$2"
}

# Answers the modal box titled $1 with Return, after its screenshot.
confirm_box() {
  window_titled "$1"
  shoot "$window" "box"
  keys "$window" Return
  no_window_titled "$1"
}

start_program() {
  # Under AddressSanitizer the strict string checks trip over the X keyboard
  # library, which strndup()s a buffer that is not NUL-terminated.
  local asan=${ASAN_OPTIONS:+$ASAN_OPTIONS:strict_string_checks=0}
  # A fixed locale, so that typed decimals mean the same everywhere. This X
  # session has no session bus, and libdbus must not autolaunch one.
  env ${asan:+ASAN_OPTIONS=$asan} LC_ALL=C.UTF-8 LANG=C.UTF-8 DBUS_SESSION_BUS_ADDRESS=disabled: \
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" \
    XDG_CONFIG_HOME="$work/config" LD_LIBRARY_PATH="$dropin" VNKESTRIX_REGISTRY="$out/guard.sqlite3" \
    REDI_SIM_LOG="$out/$scenario.calls" REDI_SIM_STATE="$out/controller.state" "$@" \
    "$program" >"$out/$scenario.stderr" 2>&1 &
  running=$!
  logged=0
}

# Waits for the program to end and sets $exit_code.
wait_for_exit() {
  for _ in $(seq 200); do
    kill -0 "$running" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$running" 2>/dev/null && fail "the program did not end"
  wait "$running"
  exit_code=$?
  running=
}

# The simulator's log lines from line $1 on, one short line per call: the
# library function, what the program passed (a report as hex: for a feature
# request bytes 0-5, then the rest; without trailing zeros) and the result
# unless it is ok.
calls_from() {
  tail -n +"$1" "$out/$scenario.calls" 2>/dev/null | awk '{
    result = ""; request = ""
    for (i = 2; i <= NF; i++) {
      if ($i == "rejected" || $i == "injected") result = " " toupper($i)
      if ($i ~ /^req=/) request = substr($i, 5)
    }
    head = ""
    if ($1 == "Usk_Feature_a") { head = substr(request, 1, 12); request = substr(request, 13) }
    sub(/(00)+$/, "", request)
    if ($1 == "Usk_FindSensor_a") line = "find " $3 " " $4
    else if ($1 == "Usk_Feature_a") line = "feature " head " " request
    else if ($1 == "Usk_GetCurrentInReport_a") line = "input " $3
    else if ($1 == "Usk_SendOutReport_a") line = "output " $3 " " $4 " " request
    else line = $0
    line = line result
    gsub(/ +/, " ", line); sub(/ $/, "", line)
    print line
  }'
}

# Waits until the program has made as many further calls as stdin lists
# (one per line, "#" comments), then compares them.
expect_calls() {
  local want got n
  want=$(sed 's/#.*//; s/[[:space:]]*$//; /^$/d' | tr -s ' ')
  n=$(printf '%s\n' "$want" | grep -c .)
  for _ in $(seq 150); do
    [ -f "$out/$scenario.calls" ] && [ "$(wc -l <"$out/$scenario.calls")" -ge $((logged + n)) ] && break
    kill -0 "$running" 2>/dev/null || break
    sleep 0.1
  done
  got=$(calls_from $((logged + 1)) | head -n "$n")
  if [ "$got" != "$want" ]; then
    diff <(printf '%s\n' "$want") <(printf '%s\n' "$got") | sed 's/^/  /' >&2
    fail "the controller calls differ from the expected ones (< expected, > made)"
  fi
  logged=$((logged + n))
}

expect_no_further_calls() {
  local extra
  extra=$(calls_from $((logged + 1)))
  [ -z "$extra" ] || fail "unexpected controller calls: $extra"
}

# ---------------------------------------------------------------------------
# No controller: the question, and each way of answering it.
# answer | keys | exit code
no_controller_rows=(
  "escape Escape 1"
  "no alt+n 1"
  "yes Return 0"
)
for row in "${no_controller_rows[@]}"; do
  read -r answer key code <<<"$row"
  scenario=no-controller-$answer step=0
  start_program REDI_SIM_ABSENT=1
  window_titled "No emmbedded controller found"
  question=$window
  shoot "$question" question
  [ -z "$(xdotool search --name '^Vantrel Kestrix 0.9$' 2>/dev/null)" ] ||
    fail "the main window exists while the question is open"
  keys "$question" "$key"
  if [ "$code" = 0 ]; then
    window_titled "Vantrel Kestrix 0.9"
    main=$window
    shoot "$main" demo-misc
    # In demo mode opening a page reaches no library; with the controller
    # absent any call would fail and stop the program.
    keys "$main" ctrl+Tab ctrl+Tab
    shoot "$main" demo-watchdog
    keys "$main" ctrl+q
  fi
  wait_for_exit
  [ "$exit_code" = "$code" ] || fail "exit code $exit_code, expected $code"
  expect_calls <<<"find sel=19 args=0,0,0,0,0,0 REJECTED"
  expect_no_further_calls
  echo "PASS: no controller, answer $answer: exit code $code"
done

# ---------------------------------------------------------------------------
# With the simulator: one change and the save on every page, the actions, the
# GPIO lines and the guard table, each step checked against the call log.
scenario=controller step=0
printf 'input_levels=0xa5\n' >"$out/controller.state"
# A row stored before the start must come back unchanged through load and save.
VNKESTRIX_REGISTRY="$out/guard.sqlite3" XDG_RUNTIME_DIR="$work/runtime" "$cli" guard set pwrbtn=0,standby ||
  fail "vnkestrix-cli could not prepare the guard table"

start_program
window_titled "Vantrel Kestrix 0.9"
main=$window
shoot "$main" start
[ -z "$(xdotool search --name '^No emmbedded controller found$' 2>/dev/null)" ] ||
  fail "the demo-mode question came up although the controller is there"
expect_calls <<'EOF'
find sel=19 args=0,0,0,0,0,0      # start-up
find sel=19 args=0,0,0,0,0,0      # the serial number refreshes the device record
feature 000100010000              # get report mode
feature 000100020100              # get sampling rate
feature 000100010400              # get S3 mode
feature 000100010100              # get GPIO direction
feature 000100010200              # get GPIO output mode
feature 000100010300              # get GPIO standby mode
EOF

# Misc. The tab bar has the focus; the page's fields follow it.
keys "$main" Tab
type_text "$main" KX2024
keys "$main" Return Tab
expect_calls <<'EOF'
feature 000001140000 555342534e14034b00580032003000320034 # serial "KX2024", to flash
EOF
# Leaving the unchanged serial field wrote nothing; the sampling rate goes to
# RAM on Return and again when the field loses the focus.
keys "$main" Tab
type_text "$main" 100
keys "$main" Return Tab Down
expect_calls <<'EOF'
feature 000000020100 64           # sampling rate 100 ms, RAM
feature 000000020100 64           # again, on leaving the field
feature 000000010400 01           # S3 mode "S3 Signal Together With S5", RAM
EOF
# The mnemonic clicks the button but leaves the focus on the S3 mode.
keys "$main" alt+r
expect_calls <<<"feature 000080000000 # reset the THRM pin"
shoot "$main" misc-changed
keys "$main" Tab Tab space
confirm_box Information
expect_calls <<'EOF'
feature 000001010000              # report mode 0, flash
feature 000001020100 64           # sampling rate, flash
feature 000001010400 01           # S3 mode, flash
EOF
echo "PASS: Misc. page"

# GPIO: opening the page reads it again. The focus was on the last page's
# save button, so it moves to the new page's first field; so on every page.
keys "$main" ctrl+Tab
expect_calls <<'EOF'
feature 000100010100
feature 000100010200
feature 000100010300
EOF
keys "$main" Tab Tab space
expect_calls <<<"feature 000000010100 f4  # direction of line 2 added to 0xf0, RAM"
# Write boxes 0 and 7 (past the rest of the direction row and the output-mode
# and standby rows), Write, then Read after the eight read boxes.
keys "$main" 'Tab*22' space 'Tab*7' space Tab space
expect_calls <<<"output len=13 timeout=1000 0081"
keys "$main" 'Tab*9' space
expect_calls <<<"input len=33"
shoot "$main" gpio-read
keys "$main" Tab space
confirm_box Information
expect_calls <<'EOF'
feature 000001010100 f4           # direction, flash
feature 000001010200              # output mode, flash
feature 000001010300              # standby mode, flash
EOF
echo "PASS: GPIO page"

# Watchdog: a strobe of 1.3 s is 13 tenths (rounded, not truncated).
keys "$main" ctrl+Tab
expect_calls <<'EOF'
feature 000100010500              # get mode
feature 000100020300              # get delay
feature 000100020200              # get strobe
feature 000100010600              # get serve sources
EOF
keys "$main" Tab Tab # mode, delay, strobe interval
type_text "$main" 1.3
keys "$main" Return Tab Tab Tab space # "Interrupt Out", "Feature Report", "USB Host Polling"
expect_calls <<'EOF'
feature 000000020300 b004         # passing through the delay field sends it to RAM
feature 000000020200 0d           # strobe 13 tenths, RAM
feature 000000020200 0d           # again, on leaving the field
feature 000000010600 07           # "USB Host Polling" added to 0x03, RAM
EOF
keys "$main" Tab Tab space # "SCH GPIO", "Serve Watchdog"
expect_calls <<<"feature 000080000100 # serve the watchdog"
shoot "$main" watchdog-changed
keys "$main" Tab Tab space
confirm_box Information
expect_calls <<'EOF'
feature 000001010500              # mode, flash
feature 000001020300 b004         # delay 1200 tenths, flash
feature 000001020200 0d           # strobe, flash
feature 000001010600 07           # serve sources, flash
EOF
echo "PASS: Watchdog page"

# Power Management: restart after a power failure is bit 2; bit 4 stays 0
# while "Disable USB To SATA Bridge" is checked.
keys "$main" ctrl+Tab
expect_calls <<<"feature 000100010700"
keys "$main" Tab space
expect_calls <<<"feature 000000010700 04"
shoot "$main" power-changed
keys "$main" 'Tab*4' space # past the other three boxes to the save button
confirm_box Information
expect_calls <<<"feature 000001010700 04"
echo "PASS: Power Management page"

# Guard: GPIO 3 shuts down, BATLOW# triggers at 1; PWRBTN# keeps "Standby".
# Each row is a level box, then an action box.
keys "$main" ctrl+Tab
keys "$main" 'Tab*7' Down Down 'Tab*9' Down
shoot "$main" guard-changed
keys "$main" 'Tab*4' space
confirm_box "Settings saved"
expect_no_further_calls
# Read by another process while the program still runs: "saved" means stored.
# Type 4 is REG_DWORD; the data is little-endian.
expected_store=$(
  for line in GPIO0 GPIO1 GPIO2 GPIO3 GPIO4 GPIO5 GPIO6 GPIO7 BATLOW PWRBTN; do
    level=00000000 action=00000000
    [ "$line" = BATLOW ] && level=01000000
    [ "$line" = GPIO3 ] && action=02000000
    [ "$line" = PWRBTN ] && action=01000000
    echo "$line Value 4 $level"
    echo "$line Action 4 $action"
  done | LC_ALL=C sort)
stored=$(sqlite3 -separator ' ' "$out/guard.sqlite3" \
  "SELECT name, type, hex(data) FROM reg_values WHERE key = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Brivane'" |
  LC_ALL=C sort)
if [ "$stored" != "$expected_store" ]; then
  diff <(echo "$expected_store") <(echo "$stored") | sed 's/^/  /' >&2
  fail "the guard table in the store differs (< expected, > stored)"
fi
echo "PASS: Guard page"

keys "$main" ctrl+q
wait_for_exit
[ "$exit_code" = 0 ] || fail "Ctrl+Q: exit code $exit_code, expected 0"
expect_no_further_calls
echo "PASS: Ctrl+Q ends the program with exit code 0"
