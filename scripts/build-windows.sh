#!/usr/bin/env bash
# Builds VnKestrix for 64-bit Windows with Debian's mingw-w64:
#   scripts/build-windows.sh [BUILD-DIR]     (default: build-windows)
# With Qt for Windows (scripts/build-qt-windows.sh builds it into its cache
# the first time, about half an hour) the whole program: vnkestrix.exe,
# vnkestrix-cli.exe, redi.dll over hidapi's Windows back end and the
# simulator's drop-in redi.dll for the tests; `cmake --install BUILD-DIR
# --prefix DIR` then fills the program's folder. Without it (no Qt source to
# be had), everything that needs no Qt, as VNKESTRIX_QT_FREE=1 asks for too:
# the controller and guard libraries, redi.dll, the program's resources and
# the registry conformance program.
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

qt=(-DVNKESTRIX_QT_FREE_ONLY=ON)
if [ "${VNKESTRIX_QT_FREE:-0}" != 1 ]; then
  status=0
  prefix=$(scripts/build-qt-windows.sh) || status=$?
  case $status in
    # Qt's tools (moc, uic, rcc) are the host's, of the same version.
    0) qt=(-DVNKESTRIX_QT_FREE_ONLY=OFF -DCMAKE_PREFIX_PATH="$prefix" -DQT_HOST_PATH=/usr
           -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake") ;;
    77) echo "build-windows: no Qt for Windows (see above): the layers without Qt only" >&2 ;;
    *) exit "$status" ;;
  esac
fi

generator=()
[ -f "$build/CMakeCache.txt" ] || ! command -v ninja >/dev/null || generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "${qt[@]}" -DREDI_HIDAPI_SOURCE_DIR="$hidapi"
cmake --build "$build" -j"$(nproc)"
