#!/usr/bin/env bash
# vnkestrix.exe under Wine, on an X server of its own, driven by the same
# user steps as the Linux program (tests/e2e/user_steps.sh) with the
# simulator's redi.dll beside it: the start-up question without a
# controller; with one, a change and a save on every page making the Linux
# program's calls (tests/e2e/controller_calls.txt) and the Guard page's save
# landing in Wine's registry as tests/e2e/guard_store.txt's 20 REG_DWORDs;
# then, with the key readable only, the same steps end in the registry's
# error box and leave the table as it was. Each page's screenshot and the
# logs go to OUT (windows-PAGE.png; docs/ shows them).
#   program.sh WINDOWS-BUILD-DIR OUT    (exit code 77: a tool or Qt for Windows is missing)
. "$(dirname "$0")/../support/suite.sh"
out=$2 here=$(dirname "$0")
e2e=$here/../e2e
rm -rf "$out" && mkdir -p "$out"
patience=120 # Wine starts slowly, the more so on a loaded machine
. "$here/../support/x_session.sh"
. "$e2e/user_steps.sh"
# Wine's first process and its desktop on that X server.
. "$here/wine_session.sh" "$1"
program_folder

# Qt for Windows picks its own platform plugin.
unset QT_QPA_PLATFORM
export REDI_SIM_STATE=$(windows_path "$out/controller.state")
start() {
  scenario=$1
  env "${@:2}" REDI_SIM_LOG="$(windows_path "$out/$1.calls")" "$wine" "$folder/vnkestrix.exe" >"$out/$1.stderr" 2>&1 &
  running=$! && pids+=($!)
}
# A moment for the page to be drawn: nothing waits on it but the picture.
screenshot() { sleep 1 && import -window "$main" "$out/windows-$1.png"; }

for row in "Escape 1" "Return 0"; do answer_question $row; done

# Runs the user's steps on every page from the factory state, the guard
# table holding PWRBTN "Standby" (vnkestrix-cli) before the start; the
# Guard page's save ends in box $1.
run_every_page() {
  printf 'input_levels=0xa5\n' >"$out/controller.state"
  start "$2"
  every_page_once "${3:-:}" "$1"
  keys "$main" ctrl+q
  ends_with 0
  diff <(grep -v '^#' "$e2e/controller_calls.txt") <(calls) || fail "[$scenario] controller calls (< expected, > made)"
}
"$wine" "$folder/vnkestrix-cli.exe" guard set pwrbtn=0,standby >"$out/cli.log" 2>&1 || fail "vnkestrix-cli guard set: $(cat "$out/cli.log")"
run_every_page "Settings saved" controller screenshot
diff <(grep -v '^#' "$e2e/guard_store.txt") <(guard_values) || fail "Wine's registry (< expected, > stored)"

# A standard user's rights on the key: readable, not writable.
"$wine" "$windows_build/tests/windows/read_only_key.exe" 'SOFTWARE\Vantrel\Brivane' || fail "read_only_key.exe"
"$wine" reg add "$guard_key" /v "GPIO0 Value" /t REG_DWORD /d 1 /f >/dev/null 2>&1 && fail "the key is still writable"
run_every_page "Windows Registry error" read-only-key
diff <(grep -v '^#' "$e2e/guard_store.txt") <(guard_values) || fail "the refused save changed the registry"
echo "PASS: the start-up question, the pages' changes and saves, the guard table in Wine's registry, its error box"
