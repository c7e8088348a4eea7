#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running need, and with
# --tests also what the test suites use (Xvfb and xdotool for the end-to-end
# suite, qemu and Debian's kernel for the HID suite, the packaging tools:
# lintian, appstreamcli, hardening-check from devscripts, and the shells whose
# completions the install tests load; a D-Bus daemon and systemd's checks for
# the guard service; mmdebstrap and e2fsprogs for the Debian 12 roots of the
# package suites; mingw-w64 and Wine for the Windows cross build;
# ansible-core with the tools its sanity tests run, promtool and
# node-exporter for the fleet suite). Installing node-exporter starts
# Debian's own instance of it; the tests start theirs on a port of their own.
# Only packages that are missing are installed; run as root or with sudo.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev qt6-qpa-plugins
  libhidapi-dev libsqlite3-dev libsystemd-dev fonts-dejavu-core
  dpkg-dev file
)
if [ "${1:-}" = "--tests" ]; then
  packages+=(
    sqlite3 xvfb xauth xdotool x11-utils imagemagick
    desktop-file-utils groff-base man-db ninja-build lintian appstream devscripts bash-completion zsh fish
    qemu-system-x86 linux-image-amd64 busybox-static cpio zstd xz-utils
    dbus-daemon systemd
    ansible-core pylint pycodestyle yamllint python3-voluptuous python3-jinja2 python3-yaml
    prometheus prometheus-node-exporter
    mmdebstrap e2fsprogs
  )
fi

# The Windows cross build and Wine (64-bit only, no i386 architecture needed)
# for the Windows tests, wixl and msitools for the installer, python3-pefile
# and icoutils to read the built files' resources; the tests report a skip
# where they are missing.
optional=()
[ "${1:-}" = "--tests" ] && optional=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
                                     wixl msitools python3-pefile icoutils)

missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing "${packages[@]}")
mapfile -t missing_optional < <(missing "${optional[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Another apt-get may hold the lock for a while: wait for it rather than fail.
apt=($sudo apt-get -o DPkg::Lock::Timeout=600)
"${apt[@]}" update -qq
[ ${#missing[@]} -eq 0 ] || "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
[ ${#missing_optional[@]} -eq 0 ] ||
  "${apt[@]}" install -y -qq --no-install-recommends "${missing_optional[@]}" ||
  echo "install-deps: ${missing_optional[*]} not installed; the Windows cross-build test will be skipped" >&2
