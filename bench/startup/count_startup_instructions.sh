#!/usr/bin/env bash
# Counts the instructions that the program and the bare Qt program execute
# from process start to the end of their main window's first paint, under
# callgrind, and splits the program's count at the steps of its start-up.
# Instruction counts repeat from run to run to a fraction of a percent even
# while other work shares the machine, which the times of bench_startup do
# not; they do not see what the processes wait for (disk, other processes,
# the X server), so the two measures complement each other.
#   bench/startup/count_startup_instructions.sh [build-dir] [platform]
# platform: offscreen (default) or xcb (needs DISPLAY, e.g. under xvfb-run).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$root/build}")
platform=${2:-offscreen}
probes=$build/bench/startup

if ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed; no instruction counts" >&2
  exit 0
fi

work=$(mktemp -d /tmp/startup_instructions.XXXXXX)
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT

# The environment bench_startup gives the probes: the simulator's drop-in
# libredi (a controller is present) and a throw-away guard store.
for variable in $(compgen -e | grep '^REDI_' || true); do unset "$variable"; done
export QT_QPA_PLATFORM=$platform
export LD_LIBRARY_PATH=$build/sim-dropin
export VNKESTRIX_REGISTRY=$work/registry.sqlite3

# Where the counts are cut. A function that a build inlines gives no cut; its
# step then counts with the next one.
cuts=(
  --dump-after='reportFirstMainWindowPaint*'
  --dump-after='Ui_VnKestrixClass::setupUi*'
  --dump-after='VnKestrix::loadGuardSettings*'
  --dump-after='VnKestrix::VnKestrix*'
  --dump-before='QApplication::exec*'
  --dump-before='startupProbeFirstPaintDone'
)

# Prints "<where a step ends>|<its instructions>" for each step up to the
# first paint, from the dumps of the probe's own process (under X, a session
# bus library may fork a helper, which callgrind follows up to its exec).
steps() {
  local name=$1 pid file trigger count
  pid=$(grep -l '^desc: Trigger: --dump-before=startupProbeFirstPaintDone' "$work/$name".*.out.* |
        head -n 1 | sed 's/.*\.\([0-9]*\)\.out\.[0-9]*$/\1/')
  for file in $(ls "$work/$name.$pid.out".* | awk -F. '{ print $NF " " $0 }' | sort -n | cut -d' ' -f2); do
    trigger=$(sed -n 's/^desc: Trigger: //p' "$file")
    count=$(sed -n 's/^summary: //p' "$file")
    case $trigger in
      *reportFirstMainWindowPaint*) echo "QApplication constructed|$count" ;;
      *setupUi*) echo "form built (the Misc page loaded in it)|$count" ;;
      *loadGuardSettings*) echo "GPIO and Guard pages loaded|$count" ;;
      *VnKestrix::VnKestrix*) echo "window sized to show every page|$count" ;;
      *QApplication::exec*) echo "show() returned|$count" ;;
      *startupProbeFirstPaintDone*) echo "first paint done|$count"; return ;;
    esac
  done
}

for name in bare vnkestrix; do
  # One run outside callgrind first: it creates the guard store and warms
  # the page cache, as bench_startup's unmeasured rounds do.
  "$probes/startup_probe_$name" >/dev/null 2>"$work/stderr" ||
    { cat "$work/stderr" >&2; exit 1; }
  valgrind --tool=callgrind --callgrind-out-file="$work/$name.%p.out" "${cuts[@]}" \
    "$probes/startup_probe_$name" >/dev/null 2>"$work/stderr" ||
    { cat "$work/stderr" >&2; exit 1; }
  steps "$name" >"$work/$name.steps"
done

echo "Instructions from process start to the main window's first paint, platform $platform (callgrind)"
echo "each step counted from the end of the one before it"
awk -F'|' '
  FNR == 1 { probe = (FILENAME ~ /bare/) ? "bare" : "ours"
             print (probe == "bare") ? "bare QMainWindow, up to" : "VnKestrix, up to" }
  { printf "  %-44s %8.1f M\n", $1, $2 / 1e6
    total[probe] += $2; if (FNR > 1) afterApp[probe] += $2 }
  END {
    printf "%-18s %8.1f M in all, %8.1f M after QApplication\n", "bare QMainWindow", total["bare"] / 1e6, afterApp["bare"] / 1e6
    printf "%-18s %8.1f M in all, %8.1f M after QApplication\n", "VnKestrix", total["ours"] / 1e6, afterApp["ours"] / 1e6
    printf "instruction ratio (VnKestrix / bare): %.2fx in all, %.2fx after QApplication\n",
           total["ours"] / total["bare"], afterApp["ours"] / afterApp["bare"]
  }' "$work/bare.steps" "$work/vnkestrix.steps"
