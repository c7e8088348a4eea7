#!/usr/bin/env bash
# The guard service's cost while idle and its reaction time, over the
# simulator's drop-in libredi and the stand-in logind on a private bus: in
# seconds, without a VM. run_kernel_guardd_bench.sh measures the same on the
# whole USB path; the one difference is said below the figures.
#   - idle over SECONDS, three services side by side: listening with report
#     mode 0, listening with mode 1, and polling as the service did before it
#     listened (VNKESTRIX_GUARDD_POLL=1): wake-ups a second, control
#     transfers a second (the drop-in's call log), CPU;
#   - private memory (RSS less shared file pages) and peak RSS (VmHWM), against
#     a bare loop that only wakes up as often as the poll (the C++ runtime's
#     floor);
#   - from a line change to logind's call in each mode and polling, against
#     debounce + one sampling period + 5 ms (and debounce + poll interval).
# It prints figures and ratios and asserts nothing.
#   bench/guardd/run_guardd_bench.sh BUILD [SECONDS]
build=$(realpath "$1") seconds=${2:-20}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
guardd=$build/guardd/vnkestrix-guardd cli=$build/cli/vnkestrix-cli
baseline=$build/bench/guardd/idle_poll_baseline

. "$source_dir/tests/support/suite.sh"
. "$source_dir/tests/guardd/private_logind.sh"
start_private_logind "$build/tests/guardd/fake_logind" || exit 1
# The store apart from the simulators' files: their rewrites would wake a
# watch on the store's folder.
mkdir "$work/store"
export VNKESTRIX_REGISTRY=$work/store/registry.sqlite3 LD_LIBRARY_PATH=$build/sim-dropin
"$cli" guard set gpio3=1,shutdown >/dev/null

# Every thread's CPU time (ns) and wake-ups (voluntary context switches:
# preemptions on a busy machine are not wake-ups), summed; the main thread's
# wake-ups alone.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ n += $1 } END { print n }'; }
switches() { cat /proc/"$1"/task/${2:-*}/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
transfers() { grep -cE '^Usk_(Feature_a|GetCurrentInReport_a)' "$work/$1.log"; }
memory() { # private KiB, peak KiB
  awk '/^Private_(Clean|Dirty):/ { p += $2 } END { printf "%d ", p }' "/proc/$1/smaps_rollup"
  awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"
}
# start NAME MODE [VAR=VALUE...]: a service with its own simulated controller.
start() {
  printf 'ram.report_mode=%s\ninput_levels=0\n' "$2" >"$work/$1.state"
  printf 'startup-grace-s = 0\nstatus-file = %s/%s.status\nmetrics-directory = none\n' "$work" "$1" >"$work/$1.conf"
  env REDI_SIM_STATE="$work/$1.state" REDI_SIM_LOG="$work/$1.log" "${@:3}" \
    "$guardd" --config "$work/$1.conf" 2>"$work/$1.err" &
  pids+=($!)
  eval "pid_$1=$!"
}

start mode0 0
start mode1 1
start polled 0 VNKESTRIX_GUARDD_POLL=1
"$baseline" 100 &
bare=$!
pids+=("$bare")
sleep 2 # past start-up
services="mode0 mode1 polled"
declare -A cpu0 all0 main0 xfer0
for s in $services; do
  p=$(eval echo "\$pid_$s")
  cpu0[$s]=$(cpu_ns "$p") all0[$s]=$(switches "$p") main0[$s]=$(switches "$p" "$p") xfer0[$s]=$(transfers "$s")
done
t0=$(date +%s%N)
sleep "$seconds"
t=$(($(date +%s%N) - t0))
echo "idle over $((t / 1000000000)) s (the lines quiet, default sample rate 50 ms, poll interval 100 ms):"
for s in $services; do
  p=$(eval echo "\$pid_$s")
  awk -v name="$s" -v t="$t" -v cpu=$(($(cpu_ns "$p") - cpu0[$s])) -v all=$(($(switches "$p") - all0[$s])) \
    -v main=$(($(switches "$p" "$p") - main0[$s])) -v xfer=$(($(transfers "$s") - xfer0[$s])) \
    -v mem="$(memory "$p")" 'BEGIN { split(mem, m, " ")
    printf "  %-7s wake-ups %6.2f/s (main thread %6.2f/s), control transfers %6.2f/s, CPU %.3f %% of a core, private %.2f MiB, peak RSS %.2f MiB\n", name, all * 1e9 / t, main * 1e9 / t, xfer * 1e9 / t, 100 * cpu / t, m[1] / 1024, m[2] / 1024 }'
done
read -r bare_private bare_peak < <(memory "$bare")
awk -v p="$bare_private" -v h="$bare_peak" 'BEGIN { printf "  bare loop private %.2f MiB, peak RSS %.2f MiB (aim for the service: peak under 4 MiB)\n", p / 1024, h / 1024 }'
echo "  aims: mode 1 no wake-up but the check after 5 quiet seconds and systemd's keep-alive, mode 0 at most one a report (20/s), no control transfer"
echo "  on the drop-in the reader thread also wakes at each of the simulator's samplings, which on the USB path is a sleep in the kernel: the main thread's figure is the service's own"

# Reaction: GPIO 3 goes high, the row fires after the debounce; it goes low
# again to re-arm the row, and the next round starts at a random point of
# the sampling. The state file is replaced whole each time.
set_levels() {
  sed "s/^input_levels=.*/input_levels=$2/" "$work/$1.state" >"$work/state.new"
  mv "$work/state.new" "$work/$1.state"
}
calls() { cat "$work/calls" 2>/dev/null | wc -l; }
more_calls_than() { [ "$(calls)" -gt "$1" ]; }
for s in $services; do
  latencies=()
  for round in 1 2 3 4 5 6 7 8; do
    calls_before=$(calls)
    changed=$(date +%s.%N)
    set_levels "$s" 8
    wait_for 5 more_calls_than "$calls_before" || { echo "$s round $round: no call" >&2; exit 1; }
    called=$(tail -n 1 "$work/calls" | sed 's/.* at=//')
    latencies+=("$(awk -v a="$changed" -v b="$called" 'BEGIN { printf "%.1f", (b - a) * 1000 }')")
    set_levels "$s" 0
    sleep "0.$((RANDOM % 3 + 3))"
  done
  [ "$s" = polled ] && bound=300 what="debounce + poll interval" || bound=255 what="debounce + one sampling + 5 ms"
  printf '%s\n' "${latencies[@]}" | sort -n | awk -v name="$s" -v bound="$bound" -v what="$what" '{ v[NR] = $1 } END {
    printf "line change to logind call, %-7s %d rounds: median %.1f ms, max %.1f ms; %s = %d ms (max/bound %.2fx)\n", name, NR, v[int((NR + 1) / 2)], v[NR], what, bound, v[NR] / bound
  }'
done
