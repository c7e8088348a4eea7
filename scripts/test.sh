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

# Qt for Windows, which the Windows suites build the program with: built once
# into its cache (about half an hour the first time), as a step of its own so
# that its time shows. Those suites run in the normal build only.
if [ "$build" = build ] && command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  started=$SECONDS
  scripts/build-qt-windows.sh || [ $? -eq 77 ]
  echo "test.sh: Qt for Windows ready after $((SECONDS - started)) s"
fi

cmake -S . -B "$build" "${flags[@]}"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
