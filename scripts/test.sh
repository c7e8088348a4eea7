#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
#   scripts/test.sh              the normal build, in build/
#   scripts/test.sh --sanitize   the same suite built with AddressSanitizer and
#                                UndefinedBehaviorSanitizer, in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."

"$PWD/scripts/install-deps.sh" --tests

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  flags=(-DCMAKE_BUILD_TYPE=Debug -DVNKESTRIX_SANITIZE=ON)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
  export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer-leaks.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

# Qt for Windows, which the Windows suites (label "windows") build the
# program with, is built once into its cache: about half an hour the first
# time. That build runs in the background at a lower priority while the rest
# is built and tested, and the Windows suites run last, once it is there (a
# build already under way, such as the one .ci/run starts, is waited for).
# They run in the normal build only.
. scripts/lib/background-qt.sh
mkdir -p "$build"
[ "$build" != build ] || start_qt_build "$build/qt-windows.log"

cmake -S . -B "$build" "${flags[@]}"
cmake --build "$build" -j"$(nproc)"
if [ -z "$qt_job" ]; then
  ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
  exit
fi
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -LE windows
started=$SECONDS
rc=0
wait "$qt_job" || rc=$?
qt_job=
cat "$build/qt-windows.log"
echo "test.sh: waited $((SECONDS - started)) s for Qt for Windows"
# 77: no compiler, host tools or source for it; the Windows suites then skip.
[ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || exit "$rc"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -L windows
