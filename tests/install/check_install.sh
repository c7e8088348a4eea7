#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed tree:
# program, library, udev rule, desktop entry, icons, man page, and that the
# program starts from its desktop entry. Needs no root and touches nothing
# outside the temporary directory.
#   check_install.sh CMAKE BUILD_DIR SOURCE_DIR LIBDIR
set -uo pipefail

cmake=$1 build=$2 source_dir=$3 libdir=$4
dropin_dir=$build/sim-dropin

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/prefix

. "$(dirname "$0")/installed_tree_checks.sh"

# DESTDIR would send the files elsewhere than the prefix under test.
if ! env -u DESTDIR "$cmake" --install "$build" --prefix "$root" >"$work/install.out" 2>&1; then
  cat "$work/install.out" >&2
  echo "FAIL: cmake --install failed" >&2
  exit 1
fi

check_installed_tree

# Only the installed prefix may have been written.
stray=$(grep -E '^-- (Installing|Up-to-date): ' "$work/install.out" | grep -v -- "-- [A-Za-z-]*: $root/")
[ -z "$stray" ] || fail "files installed outside the prefix: $stray"

[ "$failures" -eq 0 ] && echo "installed tree: all checks passed"
exit $((failures > 0))
