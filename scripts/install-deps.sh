#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running need, and with
# --tests also what the test suites use (Xvfb and xdotool for the end-to-end
# suite, qemu and Debian's kernel for the HID suite, the packaging tools:
# lintian, appstreamcli, hardening-check from devscripts, and the shells whose
# completions the install tests load).
# Only packages that are missing are installed; run as root or with sudo.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev qt6-qpa-plugins
  libhidapi-dev libsqlite3-dev fonts-dejavu-core
  dpkg-dev file
)
if [ "${1:-}" = "--tests" ]; then
  packages+=(
    sqlite3 xvfb xauth xdotool x11-utils imagemagick
    desktop-file-utils groff-base man-db ninja-build lintian appstream devscripts zsh fish
    qemu-system-x86 linux-image-amd64 busybox-static cpio zstd xz-utils
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
