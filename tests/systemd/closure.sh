#!/usr/bin/env bash
# What installing vnkestrix-headless, and both packages, adds to a clean
# Debian 12 (minbase, apt-get --no-install-recommends, as apt-get itself
# counts it against the cached root's package lists, then told no), for the
# README; and that nothing vnkestrix-headless adds is a graphics library
# (headless_forbidden.txt). What the window adds must show some, or the
# patterns would check nothing.
#   closure.sh CPACK BUILD_DIR
. "$(dirname "$0")/../support/suite.sh"
. "$(dirname "$0")/debian_root.sh"
need apt-get dpkg-deb
make_debs "$1" "$2"
debian_root minbase --variant=minbase --skip=cleanup/apt/lists
# adds DEB...: how many packages and how much space; their names in $work/new-<number of DEBs>.
adds() {
  apt-get -o Dir="$dir" -o Dir::State::status="$dir/var/lib/dpkg/status" -o APT::Install-Recommends=false \
    install --assume-no "$@" >"$work/apt.out" 2>&1
  grep -q '^Abort' "$work/apt.out" || fail "apt-get cannot install ${*##*/}: $(cat "$work/apt.out")"
  sed -n '/^The following NEW packages/,/^[0-9]/s/^  //p' "$work/apt.out" | tr ' ' '\n' | sort >"$work/new-$#"
  sed -n 's/.* \([0-9]*\) newly installed.*/\1 packages, /p; s/^After this operation, \(.*\) of additional.*/\1/p' "$work/apt.out" | paste -sd ''
}
echo "vnkestrix-headless adds $(adds "$headless")"
echo "vnkestrix-headless and vnkestrix add $(adds "$headless" "$window")"
! grep -E "$forbidden" "$work/new-1" || fail "vnkestrix-headless brings the graphics libraries above"
comm -13 "$work/new-1" "$work/new-2" | grep -qE "$forbidden" || fail "no package the window brings matches headless_forbidden.txt"
echo PASS
