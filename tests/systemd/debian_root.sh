# Sourced after ../support/suite.sh by the suites of this folder: the
# packages of a build, and Debian 12 roots made with mmdebstrap, kept under
# ~/.cache/vnkestrix (or $XDG_CACHE_HOME/vnkestrix) and named by a key of
# what goes into them, so that only the first run needs the network.
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vnkestrix
mirror=${VNK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
skip() { echo "SKIP: $*"; exit 77; }
# What vnkestrix-headless must not bring or need, as one extended regular expression.
forbidden=$(grep -v '^#' "$(dirname "${BASH_SOURCE[0]}")/headless_forbidden.txt" | paste -sd '|')

# make_debs CPACK BUILD_DIR: vnkestrix-headless and vnkestrix into $debs.
make_debs() {
  debs=$work/debs
  (cd "$work" && "$1" --config "$2/CPackConfig.cmake" -G DEB -B "$debs" -D CPACK_CMAKE_GENERATOR=Ninja) \
    >"$work/cpack.out" 2>&1 || fail "cpack -G DEB: $(cat "$work/cpack.out")"
  headless=$(echo "$debs"/vnkestrix-headless_*.deb) window=$(echo "$debs"/vnkestrix_*.deb)
}

# debian_root NAME MMDEBSTRAP_OPTION...: sets $dir to the cached root made
# with these options, made first when missing (root only: the root holds
# device nodes and files of other owners).
debian_root() {
  local name=$1
  shift
  dir=$cache/$name-$(printf '%s\n' "$@" | sha256sum | cut -c1-12)
  [ ! -d "$dir" ] || return 0
  [ "$(id -u)" -eq 0 ] || skip "making the Debian 12 root $name needs root"
  need mmdebstrap
  /usr/lib/apt/apt-helper download-file "$mirror/dists/bookworm/InRelease" "$work/InRelease" >/dev/null 2>&1 ||
    skip "the Debian mirror $mirror cannot be reached (VNK_DEBIAN_MIRROR names another)"
  mkdir -p "$cache" && rm -rf "$dir.new"
  mmdebstrap --quiet "$@" bookworm "$dir.new" "$mirror" >"$work/mmdebstrap.out" 2>&1 ||
    fail "mmdebstrap: $(tail -n 20 "$work/mmdebstrap.out")"
  mv "$dir.new" "$dir"
}
