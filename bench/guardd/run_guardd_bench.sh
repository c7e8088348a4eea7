#!/usr/bin/env bash
# The guard service's cost while idle and its reaction time, over the
# simulator's drop-in libredi and the stand-in logind on a private bus:
#   - CPU time over SECONDS at the default poll interval (100 ms), against a
#     bare loop that only wakes up as often;
#   - peak resident memory (VmHWM) of both;
#   - from a line change to logind's call, against poll interval + debounce.
# It prints figures and ratios and asserts nothing.
#   bench/guardd/run_guardd_bench.sh BUILD [SECONDS]
build=$(realpath "$1") seconds=${2:-20}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
guardd=$build/guardd/vnkestrix-guardd cli=$build/cli/vnkestrix-cli
baseline=$build/bench/guardd/idle_poll_baseline

. "$source_dir/tests/support/suite.sh"
. "$source_dir/tests/guardd/private_logind.sh"
start_private_logind "$build/tests/guardd/fake_logind" || exit 1
export VNKESTRIX_REGISTRY=$work/registry.sqlite3 LD_LIBRARY_PATH=$build/sim-dropin

cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
peak_kib() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status"; }

# Idle: the default configuration, nothing at its level, state in memory.
"$cli" guard set gpio3=1,shutdown
printf 'status-file = %s/status\n' "$work" >"$work/idle.conf"
"$guardd" --config "$work/idle.conf" 2>"$work/idle.err" &
service=$!
"$baseline" 100 &
bare=$!
pids+=("$service" "$bare")
sleep 1 # past start-up
s0=$(cpu_ns "$service") b0=$(cpu_ns "$bare") t0=$(date +%s%N)
sleep "$seconds"
s1=$(cpu_ns "$service") b1=$(cpu_ns "$bare") t1=$(date +%s%N)
awk -v s=$((s1 - s0)) -v b=$((b1 - b0)) -v t=$((t1 - t0)) -v sm="$(peak_kib "$service")" -v bm="$(peak_kib "$bare")" 'BEGIN {
  printf "idle CPU over %.0f s at 100 ms: service %.3f %% of a core, bare loop %.3f %% (ratio %.1fx; aim under 0.2 %%)\n", t / 1e9, 100 * s / t, 100 * b / t, (b > 0 ? s / b : 0)
  printf "peak resident memory: service %.1f MiB, bare loop %.1f MiB (+%.1f MiB; aim under 4 MiB)\n", sm / 1024, bm / 1024, (sm - bm) / 1024
}'
kill "$service" "$bare"

# Reaction: GPIO 3 goes high, the row fires after the debounce; it goes low
# again to re-arm the row. The state file is replaced whole each time.
export REDI_SIM_STATE=$work/controller.state
printf 'input_levels=0\n' >"$REDI_SIM_STATE"
printf 'startup-grace-s = 0\nstatus-file = %s/status\n' "$work" >"$work/react.conf"
"$guardd" --config "$work/react.conf" 2>"$work/react.err" &
pids+=($!)
sleep 1
set_levels() {
  sed "s/^input_levels=.*/input_levels=$1/" "$REDI_SIM_STATE" >"$work/state.new"
  mv "$work/state.new" "$REDI_SIM_STATE"
}
calls() { cat "$work/calls" 2>/dev/null | wc -l; }
more_calls_than() { [ "$(calls)" -gt "$1" ]; }
latencies=()
for round in 1 2 3 4 5 6 7 8; do
  calls_before=$(calls)
  changed=$(date +%s.%N)
  set_levels 8
  wait_for 5 more_calls_than "$calls_before" || { echo "round $round: no call" >&2; exit 1; }
  called=$(tail -n 1 "$work/calls" | sed 's/.* at=//')
  latencies+=("$(awk -v a="$changed" -v b="$called" 'BEGIN { printf "%.1f", (b - a) * 1000 }')")
  set_levels 0
  sleep 0.4 # a poll sees the line low, and the next round starts at a random point of the poll
done
printf '%s\n' "${latencies[@]}" | sort -n | awk '{ v[NR] = $1 } END {
  printf "line change to logind call, %d rounds: median %.1f ms, max %.1f ms; poll interval + debounce = 300 ms (ratio %.2fx; aim: under 305 ms)\n", NR, v[int((NR + 1) / 2)], v[NR], v[NR] / 300
}'
