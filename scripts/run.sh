#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
#
# A development run keeps its guard table in build/registry.sqlite3, or in
# the file VNKESTRIX_REGISTRY names, never in the system's store under
# /var/lib (which a run as root would otherwise create).
set -euo pipefail
cd "$(dirname "$0")/.."

# Without a display Qt can only abort with its platform-plugin message, so
# say first what would help. --help, --version and an explicit platform need
# no display.
needs_display=yes
for argument in "$@"; do
  case $argument in
  --help | -h | --version | -platform) needs_display=no ;;
  esac
done
if [ $needs_display = yes ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] &&
  [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MESSAGE'
scripts/run.sh: there is no display to show the window on: neither DISPLAY
nor WAYLAND_DISPLAY is set. Either
  - run it in a terminal of a desktop session,
  - connect with ssh -X (X11 forwarding) and run it there,
  - install Xvfb (apt-get install xvfb) and run: xvfb-run scripts/run.sh
  - or set QT_QPA_PLATFORM=offscreen to run it without showing anything.
build/cli/vnkestrix-cli does what the window does and needs no display.
MESSAGE
  exit 1
fi

"$PWD/scripts/install-deps.sh"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target vnkestrix
export VNKESTRIX_REGISTRY=${VNKESTRIX_REGISTRY:-$PWD/build/registry.sqlite3}
exec build/app/vnkestrix "$@"
