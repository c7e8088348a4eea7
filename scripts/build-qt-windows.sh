#!/usr/bin/env bash
# Builds Qt 6 for 64-bit Windows once, from Debian's qt6-base source of the
# same version as the host tools (qt6-base-dev), with Debian's mingw-w64, and
# keeps it in a cache outside the work tree that every later build reuses:
#   scripts/build-qt-windows.sh            prints the cached prefix's path
# The cache is $VNKESTRIX_CACHE (default ~/.cache/vnkestrix)/qt-VERSION-TOOLCHAIN,
# so a new Qt or compiler gets a new prefix and never mixes with an old one.
# Only what the program uses is built: Core, Gui, Widgets, the Windows
# platform plugin and styles. Qt's DLLs are shared and link the MinGW C++
# runtime as DLLs too, so a user can replace Qt beside the program.
# Exit code 77: the compiler, Qt's host tools or Qt's source cannot be had.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null; then
  echo "no mingw-w64 ($compiler): scripts/install-deps.sh --tests installs it" >&2
  exit 77
fi
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
if [ -z "$qt_version" ]; then
  echo "no Qt host tools (qt6-base-dev): scripts/install-deps.sh installs them" >&2
  exit 77
fi
toolchain="mingw-w64-x86_64-gcc$($compiler -dumpversion)"
# What is built. Debian's tarball has no src/3rdparty/wintab, hence
# no tablet events (the program uses none). The program ships only the
# windows platform plugin and the vista style, so the direct2d and offscreen
# platforms (offscreen comes with FreeType) and the image format plugins are
# not built: about an eighth of the steps. Without direct2d, DirectWrite goes
# too: Qt 6.4's windows plugin would use Gui's DirectWrite font database,
# which Gui builds only with direct2d, and fail to link. Fonts then come
# through GDI, Qt's default on Windows. A change here gets a new prefix.
features=(
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no
  -DFEATURE_dbus=OFF -DFEATURE_testlib=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF
  -DFEATURE_jpeg=OFF -DFEATURE_vulkan=OFF -DFEATURE_accessibility=ON
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF
  -DFEATURE_freetype=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
)
features_key=$(printf '%s\n' "${features[@]}" | sha256sum | cut -c1-8)
cache=${VNKESTRIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vnkestrix}
prefix=$cache/qt-$qt_version-$toolchain-$features_key

# One build at a time: a second caller waits for the first and reuses it.
mkdir -p "$cache"
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

started=$(date +%s)
work=$cache/work-qt-$qt_version-$toolchain-$features_key
source_dir=$work/qtbase
# shellcheck source=lib/debian-source.sh
. scripts/lib/debian-source.sh
if [ ! -f "$source_dir/CMakeLists.txt" ]; then
  echo "build-qt-windows: fetching qt6-base $qt_version's source" >&2
  fetch_debian_source "qt6-base=$qt_version" "$work" "$source_dir" || exit 77
fi

# The toolchain file links programs with -static; Qt's DLLs instead share
# one C++ runtime (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll),
# which the program's Qt-linked executables then use as well.
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
echo "build-qt-windows: configuring Qt for Windows in $work/build" >&2
cmake -S "$source_dir" -B "$work/build" "${generator[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_EXE_LINKER_FLAGS= -DCMAKE_SHARED_LINKER_FLAGS= \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
  "${features[@]}" \
  >"$work/configure.log" 2>&1 || { tail -n 40 "$work/configure.log" >&2; exit 1; }
echo "build-qt-windows: building (about half an hour on 2 cores)" >&2
cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; exit 1; }
rm -rf "$prefix"
cmake --install "$work/build" >"$work/install.log" 2>&1 ||
  { tail -n 40 "$work/install.log" >&2; exit 1; }
# The MinGW runtime DLLs that Qt's DLLs need, kept with them so a build never
# looks for them in the compiler's folders.
gcc_dir=$(dirname "$($compiler -print-libgcc-file-name)")
for dll in "$gcc_dir/libstdc++-6.dll" "$gcc_dir/libgcc_s_seh-1.dll" \
           /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll; do
  cp "$dll" "$prefix/bin/"
done
touch "$prefix/.complete"
rm -rf "$work"
echo "build-qt-windows: Qt for Windows built in $(( $(date +%s) - started )) s into $prefix" >&2
echo "$prefix"
