# Checks of an installed tree, shared by the install and the package test.
# Sourced; the caller sets:
#   root        the installed prefix (a temporary directory, or the package's
#               ./usr after dpkg-deb -x)
#   libdir      the library directory under it (CMAKE_INSTALL_LIBDIR)
#   source_dir  the source tree, for the controller's IDs
#   dropin_dir  the simulator's drop-in libredi.so.1
#   work        a scratch directory
# Every check reports through fail(); the caller looks at $failures at the end.

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The hex ID as the header defines it, lowercased as udev shows sysfs IDs.
header_id() {
  sed -n "s/^#define REDI_$1_ID 0x\([0-9A-Fa-f]\{4\}\).*/\1/p" \
    "$source_dir/platform/redi/redi_device_ids.h" | tr 'A-F' 'a-f'
}

check_program_and_library() {
  local program=$root/bin/vnkestrix
  [ -x "$program" ] || { fail "bin/vnkestrix is missing or not executable"; return; }
  [ -f "$root/$libdir/libredi.so.1" ] || fail "$libdir/libredi.so.1 is missing"
  # The bare .so is for linking only and has no place in a runtime install.
  [ ! -e "$root/$libdir/libredi.so" ] || fail "$libdir/libredi.so (a development link) is installed"

  # RUNPATH, not RPATH: RPATH would take precedence over LD_LIBRARY_PATH and
  # lock out the simulator's drop-in.
  local dynamic
  dynamic=$(readelf -d "$program")
  grep -q '(RPATH)' <<<"$dynamic" && fail "bin/vnkestrix has an RPATH entry instead of RUNPATH"
  grep -q '(RUNPATH).*\$ORIGIN' <<<"$dynamic" || fail "bin/vnkestrix has no \$ORIGIN-relative RUNPATH"

  # ldd's "libredi.so.1 => /path (0x...)" or "libredi.so.1 => not found".
  local ldd_redi='$1 == "libredi.so.1" { print ($3 == "not" ? "not found" : $3) }'
  local resolved want
  resolved=$(ldd "$program" | awk "$ldd_redi")
  want=$(realpath "$root/$libdir/libredi.so.1")
  [ -n "$resolved" ] && [ "$(realpath "$resolved")" = "$want" ] ||
    fail "bin/vnkestrix loads libredi.so.1 from '${resolved:-nowhere}', not from the installed $libdir"
  resolved=$(LD_LIBRARY_PATH=$dropin_dir ldd "$program" | awk "$ldd_redi")
  [ "$(realpath "$resolved")" = "$(realpath "$dropin_dir/libredi.so.1")" ] ||
    fail "LD_LIBRARY_PATH does not swap in the simulator's libredi.so.1 (got '$resolved')"

  # The command-line tool, when it is installed, must find the same library.
  if [ -e "$root/bin/vnkestrix-cli" ]; then
    env -u LD_LIBRARY_PATH "$root/bin/vnkestrix-cli" --version >"$work/cli.out" 2>&1 ||
      fail "bin/vnkestrix-cli --version failed: $(head -c 300 "$work/cli.out")"
  fi
}

check_udev_rule() {
  local rule=$root/lib/udev/rules.d/70-vnkestrix.rules
  [ -f "$rule" ] || { fail "lib/udev/rules.d/70-vnkestrix.rules is missing"; return; }
  local vendor product
  vendor=$(header_id VENDOR)
  product=$(header_id PRODUCT)
  [ -n "$vendor" ] && [ -n "$product" ] || { fail "no IDs found in redi_device_ids.h"; return; }

  local rules
  rules=$(grep -v '^[[:space:]]*\(#\|$\)' "$rule")
  [ -n "$rules" ] || fail "the udev rule file holds no rule"
  # udev ignores a malformed line with only a log message, so check the
  # syntax here: comma-separated KEY{attr}=="value" pairs.
  local pair='[A-Z_]+(\{[^}]+\})?(==|!=|=|\+=|-=|:=)"[^"]*"'
  while IFS= read -r line; do
    grep -Eq "^$pair(, *$pair)*$" <<<"$line" || fail "udev rule line is malformed: $line"
  done <<<"$rules"

  local want
  for want in 'SUBSYSTEM=="hidraw"' "ATTRS{idVendor}==\"$vendor\"" "ATTRS{idProduct}==\"$product\"" \
    'SUBSYSTEM=="usb"' "ATTR{idVendor}==\"$vendor\"" 'TAG+="uaccess"' 'GROUP="plugdev"' 'MODE="0660"'; do
    grep -qF "$want" <<<"$rules" || fail "the udev rule lacks $want"
  done
}

check_desktop_entry_and_icons() {
  local entry=$root/share/applications/vnkestrix.desktop
  [ -f "$entry" ] || { fail "share/applications/vnkestrix.desktop is missing"; return; }
  desktop-file-validate "$entry" >"$work/validate.out" 2>&1 ||
    fail "desktop-file-validate: $(cat "$work/validate.out")"
  grep -q '^Categories=.*HardwareSettings;' "$entry" || fail "the desktop entry is not in HardwareSettings"

  local icon
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [ "$icon" = vnkestrix ] || fail "the desktop entry's Icon is '$icon', not the theme name vnkestrix"
  # 48x48 is the size every icon theme lookup falls back to.
  [ -f "$root/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "no 48x48 hicolor icon '$icon'"

  local count=0 file size geometry
  for file in "$root"/share/icons/hicolor/*/apps/*.png; do
    [ -e "$file" ] || continue
    count=$((count + 1))
    size=$(basename "$(dirname "$(dirname "$file")")")
    geometry=$(file -b "$file" | sed -n 's/^PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1x\2/p')
    [ "$geometry" = "$size" ] || fail "${file#"$root"/} is ${geometry:-not a PNG}, not $size"
  done
  [ "$count" -ge 4 ] || fail "only $count hicolor icons are installed"
}

check_man_page() {
  local page=$root/share/man/man1/vnkestrix.1.gz
  [ -f "$page" ] || page=$root/share/man/man1/vnkestrix.1
  [ -f "$page" ] || { fail "share/man/man1/vnkestrix.1(.gz) is missing"; return; }
  # -ww turns on every warning; any output means a malformed page.
  zcat -f "$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z >"$work/groff.out" 2>&1
  [ ! -s "$work/groff.out" ] || fail "the man page does not render cleanly: $(head -5 "$work/groff.out")"
  zcat -f "$page" | grep -q '^\.SH NAME' || fail "the man page has no NAME section"
}

# Starts the program the way a menu would, from the desktop entry's Exec line
# with the installed bin/ on PATH, against the simulator (controller present)
# and a registry file of its own. It must read the controller, write nothing
# to it, load the guard table and stay up until it is terminated.
check_starts_from_desktop_entry() {
  local entry=$root/share/applications/vnkestrix.desktop
  [ -f "$entry" ] || return
  local exec_line
  # Field codes (%f, %U, ...) stand for files the menu passes; there are none.
  exec_line=$(sed -n 's/^Exec=//p' "$entry" | sed 's/ *%[a-zA-Z]//g')
  [ -n "$exec_line" ] || { fail "the desktop entry has no Exec line"; return; }

  local log=$work/controller.log registry=$work/registry.sqlite3
  rm -f "$log" "$registry" "$work/state"
  env PATH="$root/bin:$PATH" QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH="$dropin_dir" \
    REDI_SIM_STATE="$work/state" REDI_SIM_LOG="$log" VNKESTRIX_REGISTRY="$registry" \
    sh -c "exec $exec_line" >"$work/program.out" 2>&1 &
  local pid=$!

  # Construction ends with the guard table's load, which creates the store.
  local waited=0
  while [ ! -s "$registry" ] && kill -0 "$pid" 2>/dev/null && [ $waited -lt 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  sleep 1
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    fail "the program started from '$exec_line' ended by itself (status $?): $(head -c 500 "$work/program.out")"
    return
  fi
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null

  [ -s "$registry" ] || fail "the program did not load the guard table within 30 s"
  [ -f "$log" ] || { fail "the program made no controller call"; return; }
  head -n 1 "$log" | grep -q '^Usk_FindSensor_a .* ok$' || fail "the first controller call is not a successful find"
  grep -q '^Usk_Feature_a .* get=1 ok ' "$log" || fail "the program read no setting from the controller"
  ! grep -q '^Usk_Feature_a .* get=0 ' "$log" || fail "the program wrote to the controller while starting"
  ! grep -q ' rejected' "$log" || fail "the controller rejected a request: $(grep -m1 ' rejected' "$log")"
}

check_installed_tree() {
  check_program_and_library
  check_udev_rule
  check_desktop_entry_and_icons
  check_man_page
  check_starts_from_desktop_entry
}
