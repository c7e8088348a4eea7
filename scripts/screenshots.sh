#!/usr/bin/env bash
# Renders the main window's five tabs and the About dialog to PNG files, as
# a user sees them when the program starts: the real program in demo mode,
# at the window's first size, on a virtual X display of its own.
#   scripts/screenshots.sh [build-dir] [output-dir]
# Defaults: build/ and docs/screenshots/. The program and the simulator's
# drop-in library are built first when they are missing or out of date
# (JOBS sets the build's parallelism, default: all cores).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
out=$(realpath -m "${2:-$root/docs/screenshots}")

if [ -z "${VNK_ON_VIRTUAL_DISPLAY:-}" ]; then
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j"${JOBS:-$(nproc)}" --target vnkestrix redi_sim
  exec xvfb-run -a -s "-screen 0 1280x1024x24" \
    env VNK_ON_VIRTUAL_DISPLAY=1 "$0" "$build" "$out"
fi

mkdir -p "$out"
work=$(mktemp -d)
program=
cleanup() {
  if [ -n "$program" ]; then kill "$program" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The visible top-level window titled exactly $1; waits up to 20 s for it.
window_titled() {
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1) || true
  if [ -z "$id" ]; then
    echo "screenshots: no window titled \"$1\" appeared" >&2
    exit 1
  fi
  echo "$id"
}

# Gives the window the keyboard (there is no window manager to do it) and
# sends it the keys.
keys_to() {
  local window=$1
  shift
  xdotool windowfocus --sync "$window"
  xdotool key --delay 100 "$@"
}

shoot() {
  sleep 0.7 # let the window repaint after the last key
  import -window "$1" "$out/$2.png"
  echo "$out/$2.png"
}

# No controller (the drop-in library reports none), so the program asks for
# demo mode; the guard table goes to a throw-away store.
VNKESTRIX_REGISTRY="$work/registry.sqlite3" REDI_SIM_ABSENT=1 LD_LIBRARY_PATH="$build/sim-dropin" \
  "$build/app/vnkestrix" &
program=$!

question=$(window_titled "No emmbedded controller found")
keys_to "$question" Return

main=$(window_titled "Vantrel Kestrix 0.9")
xdotool windowfocus --sync "$main"
# The window opens on Misc.; Ctrl+Tab then walks the tabs from the first.
shoot "$main" misc
for tab in gpio watchdog power-management guard; do
  keys_to "$main" ctrl+Tab
  shoot "$main" "$tab"
done

keys_to "$main" alt+h a
about=$(window_titled "About Vantrel Kestrix")
shoot "$about" about
keys_to "$about" Escape

keys_to "$main" ctrl+q
wait "$program"
program=
