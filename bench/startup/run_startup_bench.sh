#!/usr/bin/env bash
# Runs the start-up benchmark on the offscreen platform and, when Xvfb is
# there, on a virtual X display; then, when valgrind is there, counts the
# instructions of both start-ups step by step (offscreen).
#   bench/startup/run_startup_bench.sh [build-dir] [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$root/build}")
rounds=${2:-15}
bench=$build/bench/startup/bench_startup

"$bench" "$rounds" offscreen
if command -v xvfb-run >/dev/null; then
  echo
  xvfb-run -a -s "-screen 0 1280x1024x24" "$bench" "$rounds" xcb
fi
if command -v valgrind >/dev/null; then
  echo
  "$root/bench/startup/count_startup_instructions.sh" "$build" offscreen
fi
