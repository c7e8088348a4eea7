#!/usr/bin/env bash
# Runs bench_redi_usb in the kernel suite's VM (qemu, Debian's kernel, the
# controller as a USB gadget) and prints its figures.
#   bench/redi/run_redi_bench.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run_redi_bench.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/../../tests/kernel/run_kernel_suite.sh" "$build/bench/redi/vm" \
  "$build/bench/redi/bench_redi_usb" >"$build/bench/redi/run.log" 2>&1 || status=$?
grep -h "^BENCH" "$build/bench/redi/vm/console.log.txt" 2>/dev/null | sed 's/^BENCH //' ||
  { tail -20 "$build/bench/redi/run.log"; exit "${status:-1}"; }
