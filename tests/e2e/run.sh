#!/usr/bin/env bash
# The installed program on an X server of its own, with no window manager,
# started from its desktop entry's Exec line and driven as a user drives it
# (user_steps.sh). The simulator's libredi.so.1 takes the real one's place
# (LD_LIBRARY_PATH over the RUNPATH); its call log must match
# controller_calls.txt call for call, and the guard store, read by another
# process, guard_store.txt. The logs and a screenshot of a failure go to OUT.
#   run.sh OUT DROPIN_DIR CMAKE BUILD_DIR    (exit code 77: a tool is missing)
. "$(dirname "$0")/../support/suite.sh"
out=$1 dropin=$2 here=$(dirname "$0")
need sqlite3
rm -rf "$out" && mkdir -p "$out" && mkdir -m 700 "$work/runtime"
. "$here/../support/x_session.sh"
. "$here/user_steps.sh"
env -u DESTDIR "$3" --install "$4" --prefix "$work/prefix" >"$out/install.log" 2>&1 || fail "cmake --install, see $out/install.log"
# Field codes (%f, %U, ...) stand for the files a menu passes; there are none.
exec_line=$(sed -n 's/^Exec=//p' "$work/prefix/share/applications/vnkestrix.desktop" | sed 's/ *%[a-zA-Z]//g')

# A fixed locale, so that typed decimals mean the same everywhere; no session
# bus, and libdbus must not autolaunch one. Under AddressSanitizer the strict
# string checks trip over the X keyboard library (a strndup of a buffer that
# is not NUL-terminated).
export LC_ALL=C.UTF-8 DBUS_SESSION_BUS_ADDRESS=disabled: QT_QPA_PLATFORM=xcb \
  XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config VNKESTRIX_REGISTRY=$out/guard.sqlite3 \
  REDI_SIM_STATE=$out/controller.state ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS:strict_string_checks=0}

# Starts the program as a menu would, with the installed bin/ on PATH.
start() {
  scenario=$1
  env "${@:2}" PATH="$work/prefix/bin:$PATH" LD_LIBRARY_PATH="$dropin" REDI_SIM_LOG="$out/$1.calls" \
    sh -c "exec $exec_line" >"$out/$1.stderr" 2>&1 &
  running=$! && pids+=($!)
}

for row in "Escape 1" "alt+n 1" "Return 0"; do answer_question $row; done

printf 'input_levels=0xa5\n' >"$REDI_SIM_STATE"
"$work/prefix/bin/vnkestrix-cli" guard set pwrbtn=0,standby || fail "vnkestrix-cli guard set"
start controller
every_page_once
# "Saved" means stored: another process reads it while the program runs.
diff <(grep -v '^#' "$here/guard_store.txt") <(sqlite3 "$VNKESTRIX_REGISTRY" "SELECT name, type, hex(data) FROM reg_values
  WHERE key = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Brivane' ORDER BY name") || fail "guard store (< expected, > stored)"
keys "$main" ctrl+q
ends_with 0
diff <(grep -v '^#' "$here/controller_calls.txt") <(calls) || fail "controller calls (< expected, > made)"
echo "PASS: the demo-mode question, the pages' changes and saves, the guard table, Ctrl+Q"
