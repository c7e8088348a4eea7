# Sourced by the suites that run the Windows build under Wine (after
# suite.sh, with $out set):
#   . wine_session.sh WINDOWS-BUILD-DIR
# builds the program for Windows there (scripts/build-windows.sh) and starts
# a Wine prefix of the suite's own in $out with a wineserver that stays up
# until the suite ends: Wine keeps a key's security settings only while its
# server runs. Skips (77) with the reason without wine64 or mingw-w64.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || { echo "SKIP: no wine64 (scripts/install-deps.sh --tests installs it)"; exit 77; }
wineserver=$(dirname "$(realpath "$wine")")/wineserver
windows_build=$1
"$(dirname "${BASH_SOURCE[0]}")/../../scripts/build-windows.sh" "$windows_build" >"$out/build.log" 2>&1 ||
  { rc=$?; tail -n 40 "$out/build.log"; [ $rc -eq 77 ] && echo "SKIP: see above"; exit $rc; }

# The program's folder in $folder, with the simulator's redi.dll in place of
# the real one; a skip without Qt for Windows, which the program needs.
program_folder() {
  [ -f "$windows_build/app/vnkestrix.exe" ] ||
    { grep -m1 "Qt for Windows" "$out/build.log"; echo "SKIP: no Qt for Windows, so no program"; exit 77; }
  folder=$work/VnKestrix
  cmake --install "$windows_build" --prefix "$folder" >"$out/install.log" 2>&1 || fail "cmake --install, see $out/install.log"
  cp "$windows_build/sim-dropin/redi.dll" "$folder/redi.dll"
}

# No Mono or Gecko installers asking for a display while the prefix is made.
export WINEPREFIX=$out/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
"$wine" wineboot -i >"$out/wineboot.log" 2>&1 || fail "wineboot, see $out/wineboot.log"
"$wineserver" -w
"$wineserver" -f -p &
pids+=($!)
# The prefix's own processes (services, explorer) would outlive its server
# and keep ctest waiting on their output.
cleanups+=('"$wineserver" -k 2>/dev/null')

# A Unix path as the Windows programs see it: Wine's drive Z: is the root.
windows_path() { printf 'Z:%s' "$1"; }
guard_key='HKLM\SOFTWARE\Vantrel\Brivane'
# The guard key's values as reg query lists them, as NAME|TYPE|DATA lines,
# sorted, a REG_DWORD as type 4 and the 8 hex digits of its little-endian
# bytes: tests/e2e/guard_store.txt's form.
guard_values() {
  "$wine" reg query "$guard_key" </dev/null 2>/dev/null | tr -d '\r' |
    sed -nE 's/^ +(.*[^ ]) +(REG_[A-Z_]+) +(.*)$/\1|\2|\3/p' | while IFS='|' read -r name type v; do
      [ "$type" != REG_DWORD ] && echo "$name|$type|$v" ||
        printf '%s|4|%02X%02X%02X%02X\n' "$name" $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255))
    done | LC_ALL=C sort
}
