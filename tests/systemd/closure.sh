#!/usr/bin/env bash
# What installing each package adds to a clean Debian 12 (minbase, apt-get
# --no-install-recommends, resolved against the cached root's own package
# lists): how many packages and how many MB, printed for the README; and
# that nothing vnkestrix-headless adds is a graphics library
# (headless_forbidden.txt). The window package, which needs Qt Gui, must
# show some, or the patterns would check nothing.
#   closure.sh CPACK BUILD_DIR
. "$(dirname "$0")/../support/suite.sh"
. "$(dirname "$0")/debian_root.sh"
need apt-get dpkg-deb
make_debs "$1" "$2"
debian_root minbase --variant=minbase --skip=cleanup/apt/lists
forbidden=$(grep -v '^#' "$(dirname "$0")/headless_forbidden.txt" | paste -sd '|')
# added DEB...: the names of the packages an installation of DEB... adds.
added() {
  apt-get -q -s -o Dir="$dir" -o Dir::State::status="$dir/var/lib/dpkg/status" -o APT::Install-Recommends=false \
    install "$@" >"$work/apt.out" 2>&1 || fail "apt-get cannot install ${*##*/}: $(cat "$work/apt.out")"
  sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$work/apt.out" | sort
}
# megabytes NAME...: their Installed-Size together, ours read from the .debs.
megabytes() {
  { apt-cache -o Dir="$dir" -o Dir::State::status="$dir/var/lib/dpkg/status" show --no-all-versions \
      $(grep -vx 'vnkestrix\(-headless\)\?' <<<"$*") 2>/dev/null | sed -n 's/^Installed-Size: //p'
    for deb in "$headless" "$window"; do grep -qx "$(dpkg-deb -f "$deb" Package)" <<<"$*" && dpkg-deb -f "$deb" Installed-Size; done
  } | awk '{ kb += $1 } END { printf "%.1f", kb / 1024 }'
}
for_headless=$(added "$headless")
both=$(added "$headless" "$window")
for_window=$(comm -13 <(echo "$for_headless") <(echo "$both"))
printf 'vnkestrix-headless adds %d packages, %s MB\n' "$(wc -l <<<"$for_headless")" "$(megabytes $for_headless)"
printf 'vnkestrix adds %d more packages, %s MB (%d packages, %s MB with vnkestrix-headless)\n' \
  "$(wc -l <<<"$for_window")" "$(megabytes $for_window)" "$(wc -l <<<"$both")" "$(megabytes $both)"
! grep -E "$forbidden" <<<"$for_headless" || fail "vnkestrix-headless brings the graphics libraries above"
grep -qE "$forbidden" <<<"$for_window" || fail "no package the window brings matches headless_forbidden.txt"
echo "PASS"
