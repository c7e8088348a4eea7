#!/usr/bin/env bash
# Builds for 64-bit Windows, with Debian's mingw-w64, everything that needs no
# Qt: the controller and guard libraries, redi.dll over hidapi's Windows back
# end, the program's resources and the registry conformance program.
#   scripts/build-windows.sh [BUILD-DIR]     (default: build-windows)
# hidapi's source comes from Debian's source package, unpacked once into
# BUILD-DIR/hidapi-source. Exit code 77: the compiler or hidapi's source
# cannot be had (the reason is printed).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-windows}")
hidapi=$build/hidapi-source

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "no mingw-w64 (g++-mingw-w64-x86-64-posix): scripts/install-deps.sh --tests installs it" >&2
  exit 77
fi

# shellcheck source=lib/debian-source.sh
. scripts/lib/debian-source.sh
if [ ! -f "$hidapi/windows/hid.c" ]; then
  fetch_debian_source hidapi "$build" "$hidapi" || exit 77
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVNKESTRIX_QT_FREE_ONLY=ON -DREDI_HIDAPI_SOURCE_DIR="$hidapi"
cmake --build "$build" -j"$(nproc)"
