# Sourced by the suites that drive the program's window (after
# support/x_session.sh): the steps of a user, the same on every platform, so
# that every platform's program makes controller_calls.txt's calls and
# stores guard_store.txt's table. The keys of the pages after Misc. are in
# page_keys.txt.
main_title="Vantrel Kestrix 0.9" question_title="No emmbedded controller found"

# Started without a controller: the question comes before the main window;
# key $1 answers it, and the program ends with exit code $2. In demo mode no
# page, not even GPIO's Write, reaches the library, where any call would fail.
answer_question() {
  start "no-controller-$1" REDI_SIM_ABSENT=1
  appears "$question_title"
  local question=$window
  ! shown "$main_title" || fail "[$scenario] the main window is there while the question is open"
  keys "$question" "$1"
  if [ "$2" = 0 ]; then
    appears "$main_title"
    keys "$window" ctrl+Tab 'Tab*33' space ctrl+Tab ctrl+Tab ctrl+q
  fi
  ends_with "$2"
  [ "$(calls)" = "Usk_FindSensor_a - sel=19 args=0,0,0,0,0,0 rejected" ] || fail "[$scenario] calls: $(calls)"
}

# With the controller: one change and the save on every page, the actions,
# the GPIO lines and the guard table, leaving the main window ($main) on the
# Guard page. The focus starts on the tab bar, and moves to a page's first
# field when the page is opened from a save button. $1, if given, is called
# with each page's name once the page is shown; $2 is the title of the box
# the Guard page's save ends in (a save that worked: "Settings saved").
every_page_once() {
  local page=${1:-:}
  appears "$main_title"
  main=$window
  ! shown "$question_title" || fail "[$scenario] the demo-mode question with the controller there"
  # Misc.: serial number, sampling rate, S3 mode, the THRM mnemonic (the
  # focus stays on the S3 mode), Save.
  "$page" misc
  keys "$main" Tab K X 2 0 2 4 Return Tab Tab 1 0 0 Return Tab Down alt+r
  # A mnemonic clicks once the button's press has shown, a moment later:
  # the save must not overtake the reset (it does under Wine).
  wait_for "$patience" grep -q ' req=000080000000' "$out/$scenario.calls" || fail "[$scenario] no THRM pin reset"
  keys "$main" Tab Tab space
  confirm Information
  # The other pages (page_keys.txt) in order, each a Ctrl+Tab away, its keys
  # and the box its save ends in.
  local name box steps
  while IFS='|' read -r -u 3 name box steps; do
    [ "$name" != guard ] || box=${2:-$box}
    keys "$main" ctrl+Tab
    "$page" "$name"
    read -ra steps <<<"$steps"
    keys "$main" "${steps[@]}"
    confirm "$box"
  done 3< <(grep -v '^#' "${BASH_SOURCE[0]%/*}/page_keys.txt")
}
