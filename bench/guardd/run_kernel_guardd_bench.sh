#!/usr/bin/env bash
# Runs kernel_guardd_bench in the kernel suite's VM (qemu, Debian's kernel,
# the controller as a USB gadget) with the guard service, the command line,
# the stand-in logind and dbus-daemon, and prints its figures. About 2 to 4
# minutes under software emulation.
#   bench/guardd/run_kernel_guardd_bench.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run_kernel_guardd_bench.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out=$build/bench/guardd
bash "$here/../../tests/kernel/run_kernel_suite.sh" "$out/vm" "$out/kernel_guardd_bench" \
  "$build/guardd/vnkestrix-guardd" "$build/tests/guardd/fake_logind" "$build/cli/vnkestrix-cli" \
  "$(command -v dbus-daemon)" /usr/share/dbus-1/session.conf >"$out/run.log" 2>&1 || status=$?
grep -h "^BENCH" "$out/vm/console.log.txt" 2>/dev/null | sed 's/^BENCH //' ||
  { tail -20 "$out/run.log"; exit "${status:-1}"; }
