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

# apt-get source with lists of its own: the machine's Debian sources, read as
# source-package sources, without changing the machine's apt setup.
if [ ! -f "$hidapi/windows/hid.c" ]; then
  apt=$build/apt
  rm -rf "$apt" && mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts" "$apt/src"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt/parts/$(basename "$f")"
  done
  [ -f /etc/apt/sources.list ] && sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt/parts/main.list"
  opts=(-q -o "Dir::Etc::SourceParts=$apt/parts" -o Dir::Etc::SourceList=/dev/null
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1)
  apt-get "${opts[@]}" update >"$apt/update.log" 2>&1 || true
  if ! (cd "$apt/src" && apt-get "${opts[@]}" source hidapi >"$apt/source.log" 2>&1); then
    echo "hidapi's source package cannot be had (see $apt/source.log)" >&2
    exit 77
  fi
  rm -rf "$hidapi" && mv "$apt/src"/hidapi-*/ "$hidapi" && rm -rf "$apt"
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVNKESTRIX_QT_FREE_ONLY=ON -DREDI_HIDAPI_SOURCE_DIR="$hidapi"
cmake --build "$build" -j"$(nproc)"
