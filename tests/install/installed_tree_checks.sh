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
  # libredi is the programs' private library, in the package's own directory.
  local private=$libdir/vnkestrix
  [ -f "$root/$private/libredi.so.1" ] || fail "$private/libredi.so.1 is missing"
  [ ! -e "$root/$libdir/libredi.so.1" ] || fail "libredi.so.1 is installed as a public library in $libdir"
  # The bare .so is for linking only and has no place in a runtime install.
  [ ! -e "$root/$private/libredi.so" ] || fail "$private/libredi.so (a development link) is installed"

  # Help and version need no display: they are answered before Qt starts.
  local option
  for option in --help --version; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" $option >"$work/info.out" 2>&1 &&
      grep -q -e '^Usage: vnkestrix' -e '^vnkestrix [0-9]' "$work/info.out" ||
      fail "bin/vnkestrix $option without a display: $(head -c 300 "$work/info.out")"
  done

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
  want=$(realpath "$root/$private/libredi.so.1")
  [ -n "$resolved" ] && [ "$(realpath "$resolved")" = "$want" ] ||
    fail "bin/vnkestrix loads libredi.so.1 from '${resolved:-nowhere}', not from the installed $private"
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

check_man_pages() {
  local name page other
  for name in vnkestrix vnkestrix-cli; do
    page=$root/share/man/man1/$name.1.gz
    [ -f "$page" ] || page=$root/share/man/man1/$name.1
    [ -f "$page" ] || { fail "share/man/man1/$name.1(.gz) is missing"; continue; }
    # Any output means a malformed page.
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null | grep -v '^$' >"$work/man.out"
    [ ! -s "$work/man.out" ] || fail "man --warnings on $name.1: $(head -5 "$work/man.out")"
    zcat -f "$page" | grep -q '^\.SH NAME' || fail "$name.1 has no NAME section"
    zcat -f "$page" | grep -Eq '^\.TH [^ ]+ 1 "[0-9]{4}-[0-9]{2}-[0-9]{2}"' || fail "$name.1 has no date in .TH"
    other=vnkestrix-cli
    [ $name = vnkestrix ] || other=vnkestrix
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | sed -n '/^SEE ALSO/,$p' | grep -q "$other(1)" ||
      fail "$name.1 does not point to $other(1) under SEE ALSO"
  done
  page=$root/share/man/man8/vnkestrix-guardd.8.gz
  if [ -f "$page" ]; then
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null | grep -v '^$' >"$work/man.out"
    [ ! -s "$work/man.out" ] || fail "man --warnings on vnkestrix-guardd.8: $(head -5 "$work/man.out")"
  else
    fail "share/man/man8/vnkestrix-guardd.8.gz is missing"
  fi
  # vnkestrix-cli.1 comes from the program's tables: every command and
  # setting that --help names is in it.
  local cli=$root/bin/vnkestrix-cli manual word
  [ -x "$cli" ] || return
  manual=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/share/man/man1/vnkestrix-cli.1.gz" 2>/dev/null)
  for word in $("$cli" --help | sed -n 's/^  \([a-z][a-z.-]*\)  .*/\1/p') \
    $("$cli" get --help | sed -n 's/^  \([a-z][a-z.-]*\): .*/\1/p') --device --verbose REDI_DEVICE \
    VNKESTRIX_REGISTRY; do
    grep -qF -- "$word" <<<"$manual" || fail "vnkestrix-cli.1 does not name $word"
  done
}

# Each completion file where its shell looks for it, loading in that shell
# (checked where the shell is installed).
check_completions() {
  local shell file
  for shell in bash:bash-completion/completions/vnkestrix-cli zsh:zsh/vendor-completions/_vnkestrix-cli \
    fish:fish/vendor_completions.d/vnkestrix-cli.fish; do
    file=$root/share/${shell#*:}
    [ -f "$file" ] || { fail "share/${shell#*:} is missing"; continue; }
    grep -q '@[A-Z_]*@' "$file" && fail "share/${shell#*:} has unfilled placeholders"
    grep -q 'watchdog.mode=off,reset-system,show-only' "$file" || fail "share/${shell#*:} lacks the settings' words"
    command -v "${shell%%:*}" >/dev/null || continue
    "${shell%%:*}" -n "$file" >"$work/shell.out" 2>&1 || fail "${shell%%:*} -n ${shell#*:}: $(head -3 "$work/shell.out")"
  done
}

# The AppStream metainfo (validated without the network: its screenshots
# are published elsewhere), the scalable icon and the Debian documents.
check_metainfo_and_documents() {
  local metainfo=$root/share/metainfo/com.vantrel.vnkestrix.metainfo.xml
  if [ ! -f "$metainfo" ]; then
    fail "share/metainfo/com.vantrel.vnkestrix.metainfo.xml is missing"
  elif command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" >"$work/appstream.out" 2>&1 ||
      fail "appstreamcli validate: $(cat "$work/appstream.out")"
  else
    echo "SKIP: appstreamcli is not installed (package appstream)"
  fi
  grep -q "<launchable type=\"desktop-id\">vnkestrix.desktop<" "$metainfo" 2>/dev/null ||
    fail "the metainfo does not launch vnkestrix.desktop"
  file -b "$root/share/icons/hicolor/scalable/apps/vnkestrix.svg" | grep -q SVG || fail "no scalable SVG icon"
  [ -f "$root/share/doc/vnkestrix/copyright" ] || fail "share/doc/vnkestrix/copyright is missing"
  [ -f "$root/share/doc/vnkestrix/changelog.gz" ] || fail "share/doc/vnkestrix/changelog.gz is missing"
}

# The guard service's program runs with the installed library, and its unit
# passes systemd's own check once it names the installed program.
check_guard_service() {
  local daemon=$root/sbin/vnkestrix-guardd unit=$root/lib/systemd/system/vnkestrix-guardd.service
  [ -x "$daemon" ] || { fail "sbin/vnkestrix-guardd is missing"; return; }
  env -u LD_LIBRARY_PATH "$daemon" --version >"$work/guardd.out" 2>&1 ||
    fail "sbin/vnkestrix-guardd --version failed: $(head -c 300 "$work/guardd.out")"
  [ -f "$root/share/vnkestrix/guardd.conf" ] || fail "share/vnkestrix/guardd.conf is missing"
  [ -f "$unit" ] || { fail "lib/systemd/system/vnkestrix-guardd.service is missing"; return; }
  grep -q '^ExecStart=/.*/sbin/vnkestrix-guardd$' "$unit" || fail "the unit's ExecStart is not an absolute sbin path"
  command -v systemd-analyze >/dev/null || return
  mkdir -p "$work/unit"
  sed "s|^ExecStart=.*|ExecStart=$daemon|" "$unit" >"$work/unit/vnkestrix-guardd.service"
  # verify only warns about a line it cannot parse, so any output fails.
  systemd-analyze verify --man=no "$work/unit/vnkestrix-guardd.service" >"$work/verify.out" 2>&1 &&
    [ ! -s "$work/verify.out" ] || fail "systemd-analyze verify: $(cat "$work/verify.out")"
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
  check_man_pages
  check_guard_service
  check_completions
  check_metainfo_and_documents
  check_starts_from_desktop_entry
}
