#!/usr/bin/env bash
# The install rules and the Debian packages from the outside, without root and
# without touching the system. "tree" installs the build with DESTDIR into a
# scratch root; "package" builds vnkestrix-headless and vnkestrix, checks
# their control data, maintainer scripts, lintian's verdict and files, that
# nothing in the headless one needs a graphics library, and unpacks both
# there. Both then
# check the same tree: exactly the files of installed_files.txt, each valid
# for the tool that reads it, and programs that find their private libredi.
# The tree goes under /opt/vnkestrix, not the configured prefix: `cmake
# --install --prefix` moves it anywhere.
#   check.sh tree CMAKE BUILD_DIR SOURCE_DIR LIBDIR
#   check.sh package CPACK BUILD_DIR SOURCE_DIR LIBDIR VERSION [HARDENING_CHECK_OPTION...]
. "$(dirname "$0")/../support/suite.sh"
mode=$1 tool=$2 build=$3 source_dir=$4 libdir=$5 root=$work/root
need desktop-file-validate appstreamcli systemd-analyze man readelf
export LC_ALL=C.UTF-8 MANWIDTH=200
# listing ROOT: its files and modes as installed_files.txt writes them.
listing() {
  (cd "$1" && find . ! -type d -printf '%m %p\n' | sed "s| \./${prefix#/}/| |; s| $libdir/vnkestrix/| LIBDIR/vnkestrix/|" | sort)
}
if [ "$mode" = tree ]; then
  prefix=/opt/vnkestrix
  DESTDIR=$root "$tool" --install "$build" --prefix $prefix >"$work/install.out" 2>&1 || fail "cmake --install: $(cat "$work/install.out")"
else
  need lintian dpkg-deb hardening-check
  prefix=/usr
  . "$(dirname "$0")/../systemd/debian_root.sh"
  make_debs "$tool" "$build"
  while read -r package field want; do
    dpkg-deb -f "$debs/${package}_$6_"*.deb "$field" | tr ',' '\n' | sed 's/^ *//; s/ *$//; p; s/ (.*//' |
      grep -qxF -- "$want" || fail "$package's $field lacks $want"
  done < <(grep -v '^#' "$(dirname "$0")/package_relations.txt" | sed "s/VERSION/$6/; s/ARCH/$(dpkg --print-architecture)/")
  for deb in "$headless" "$window"; do
    name=$(dpkg-deb -f "$deb" Package)
    lintian --fail-on error,warning "$deb" >"$work/lintian.out" 2>&1 || fail "lintian $name: $(grep -E '^[EW]: ' "$work/lintian.out")"
    dpkg-deb -x "$deb" "$work/$name"
    dpkg-deb -x "$deb" "$root"
    diff <(awk -v p="$name" '$3 == p { print $1, $2 }' "$(dirname "$0")/installed_files.txt" | sort) <(listing "$work/$name") ||
      fail "$name's files differ from its rows of installed_files.txt (< expected, > packaged)"
  done
  # No program or library of the headless package needs a graphics library.
  ! find "$work/vnkestrix-headless" -type f -exec sh -c 'readelf -h "$0" >/dev/null 2>&1 && readelf -d "$0"' {} \; |
    sed -n 's/.*(NEEDED).*\[\(.*\)\]/\L\1/p' | grep -E "$forbidden" || fail "vnkestrix-headless's programs need the libraries above"
  # Every ELF file of the packages hardened as Debian's are (cmake/Hardening.cmake).
  mapfile -t elfs < <(find "$root" -type f -exec sh -c 'readelf -h "$0" >/dev/null 2>&1' {} \; -print)
  hardening-check --quiet "${@:7}" "${elfs[@]}" >"$work/hardening.out" || fail "hardening-check: $(cat "$work/hardening.out")"
fi
p=$root$prefix

diff <(grep -v '^#' "$(dirname "$0")/installed_files.txt" | cut -d' ' -f1,2 | sort) <(listing "$root") ||
  fail "the installed files differ from installed_files.txt (< expected, > installed)"

# RUNPATH, not RPATH, which would take precedence over LD_LIBRARY_PATH and
# lock out the simulator's libredi. --version and --help load every library
# and are answered without a display.
for program in bin/vnkestrix bin/vnkestrix-cli sbin/vnkestrix-guardd; do
  [ "$(readelf -d "$p/$program" | awk '/\(R(UN)?PATH\)/ {print $2, $NF}')" = "(RUNPATH) [\$ORIGIN/../$libdir/vnkestrix]" ] ||
    fail "$program: its search path is not RUNPATH \$ORIGIN/../$libdir/vnkestrix alone"
  for option in --version --help; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u LD_LIBRARY_PATH "$p/$program" $option >"$work/msg" 2>&1 && grep -q "${program#*/}" "$work/msg" ||
      fail "$program $option without a display: $(cat "$work/msg")"
  done
done

# udev ignores a malformed line with only a log message; sysfs shows the IDs in lowercase.
pair='[A-Z_]+(\{[^}]+\})?(==|!=|=|\+=|-=|:=)"[^"]*"'
rule=$p/lib/udev/rules.d/70-vnkestrix.rules
! grep -Ev "^(#.*|$pair(, *$pair)*|)$" "$rule" || fail "malformed udev rule lines above"
read -r vendor product < <(sed -n 's/^#define REDI_[A-Z]*_ID 0x\([0-9A-Fa-f]\{4\}\).*/\1/p' "$source_dir/platform/redi/redi_device_ids.h" | tr 'A-F\n' 'a-f ')
for want in SUBSYSTEM==\"{hidraw,usb}\" ATTR{,S}{idVendor}==\"$vendor\" ATTR{,S}{idProduct}==\"$product\" \
  TAG+=\"uaccess\" GROUP=\"plugdev\" MODE=\"0660\"; do
  grep -qF "$want" "$rule" || fail "the udev rule lacks $want"
done

desktop-file-validate "$p/share/applications/vnkestrix.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$p/share/metainfo/com.vantrel.vnkestrix.metainfo.xml" >"$work/msg" 2>&1 || fail "appstreamcli: $(cat "$work/msg")"
# An icon whose size is not its folder's, or a manual page that man warns
# about, is lintian's (the package's files are the tree's).
[ -f "$p/share/icons/hicolor/48x48/apps/$(sed -n 's/^Icon=//p' "$p/share/applications/vnkestrix.desktop").png" ] ||
  fail "the desktop entry's Icon has no 48x48 icon, the size every theme lookup falls back to"
for page in "$p"/share/man/man*/*; do # the changelog dates each page
  zcat "$page" | grep -Eq '^\.TH [^ ]+ [18] "[0-9]{4}-[0-9]{2}-[0-9]{2}"' || fail "${page##*/} has no date in .TH"
done
# vnkestrix-cli's page comes from its tables: it names what --help does
# (completions.sh drives the completions).
cli=$p/bin/vnkestrix-cli
settings=$("$cli" get --help | sed -n 's/^  \([a-z.-]*\): one of \(.*\)/\1 \2/p; s/^  \([a-z.-]*\): .*/\1/p' | tr -d ,)
manual=$(man -l "$p/share/man/man1/vnkestrix-cli.1.gz" 2>/dev/null)
for word in $("$cli" --help | sed -n 's/^  \([A-Za-z_]*\)  .*/\1/p; s/^  \(--[a-z]*\) .*/\1/p') $settings; do
  grep -qF -- "$word" <<<"$manual" || fail "vnkestrix-cli.1 does not name $word"
done

# The unit names the daemon where this install put it, and passes systemd's
# check, which only warns, so any output fails.
unit=$p/lib/systemd/system/vnkestrix-guardd.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[ "$exec_start" = "$prefix/sbin/vnkestrix-guardd" ] && [ -x "$root$exec_start" ] || fail "ExecStart=$exec_start is not the installed $prefix/sbin/vnkestrix-guardd"
sed "s|^ExecStart=.*|ExecStart=$p/sbin/vnkestrix-guardd|" "$unit" >"$work/vnkestrix-guardd.service"
verify=$(systemd-analyze verify --man=no "$work/vnkestrix-guardd.service" 2>&1) && [ -z "$verify" ] || fail "systemd-analyze verify: $verify"
echo "PASS: $mode"
