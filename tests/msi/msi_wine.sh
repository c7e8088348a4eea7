#!/usr/bin/env bash
# The MSI (scripts/build-msi.sh) installed, upgraded and removed silently
# under Wine, as msi_steps.txt says; per machine (ALLUSERS=1) by its
# properties. Without Qt for Windows there is no program: the installer is
# tried on stand-ins (redi.dll, and a small program of the build as
# vnkestrix.exe), the program's start stays untried and the test reports a
# skip once the rest has passed.
#   msi_wine.sh WINDOWS-BUILD-DIR OUT
# Exit code 77 (a skip, with the reason): no wixl, wine64, mingw-w64 or hidapi source.
. "$(dirname "$0")/../support/suite.sh"
here=$(cd "$(dirname "$0")" && pwd) build=$(realpath -m "$1") out=$(realpath -m "$2")
need wixl wixl-heat msiinfo
rm -rf "$out" && mkdir -p "$out"
unset DISPLAY WAYLAND_DISPLAY
. "$here/../windows/wine_session.sh" "$build"
version=$(sed -n 's/^project(VnKestrix VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")

stage=$work/stage untried=""
if [ -f "$build/app/vnkestrix.exe" ]; then
  cmake --install "$build" --prefix "$stage" >"$out/install.log" 2>&1 || fail "cmake --install, see $out/install.log"
else
  untried="no Qt for Windows, so no program: the installer was tried on stand-ins, the program's start from the installed folder was not"
  mkdir -p "$stage/platforms"
  cp "$build/tests/winredi/redi_probe.exe" "$stage/vnkestrix.exe"
  cp "$build/platform/redi/redi.dll" "$stage/"
  echo "a plugin's place" >"$stage/platforms/qwindows.dll"
fi
for v in 0.9 1.0; do
  cp -r "$stage" "$work/stage-$v" && [ $v = 1.0 ] || echo "a file that 1.0 no longer ships" >"$work/stage-$v/retired.txt"
  "$here/../../scripts/build-msi.sh" "$work/stage-$v" "$out/vnkestrix-$v.msi" "$v" >>"$out/build-msi.log" 2>&1 ||
    fail "build-msi.sh $v, see $out/build-msi.log"
done
[[ $(msiinfo export "$out/vnkestrix-1.0.msi" Property) == *$'\nALLUSERS\t1\r'* ]] || fail "the package is not per machine"

"$wine" reg add "$guard_key" /v GpioTrigger0 /t REG_DWORD /d 7 /f >/dev/null || fail "reg add"
installed="$WINEPREFIX/drive_c/Program Files/VnKestrix"
products() {
  "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY_/ { if (name == "Vantrel Kestrix") print version; name = version = "" }
         $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); name = $0 }
         $1 == "DisplayVersion" { version = $3 }
         END { if (name == "Vantrel Kestrix") print version }' | LC_ALL=C sort | paste -sd' '
}

while read -r step arg outcome; do
  case "$step" in
    '#'* | '') continue ;;
    install | remove)
      flag=/i && [ "$step" = remove ] && flag=/x
      "$wine" msiexec $flag "Z:$out/vnkestrix-$arg.msi" /qn >>"$out/msiexec.log" 2>&1
      rc=$? && [ "$([ $rc = 0 ] && echo done || echo refused)" = "${outcome:-done}" ] || fail "$step $arg: msiexec exit $rc" ;;
    folder)
      [ "$arg" = none ] && { [ ! -e "$installed" ] || fail "removal left: $(find "$installed" | head)"; } ||
        diff -r "$work/stage-$arg" "$installed" || fail "the installed folder is not $arg's" ;;
    shortcut)
      # Wine puts a per-machine package's shortcuts in the user's Start menu, Windows in everyone's.
      found=$(find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/*' -name 'Vantrel Kestrix.lnk')
      [ "$arg" = none ] && { [ -z "$found" ] || fail "removal left the shortcut $found"; } && continue
      [ "$(printf '%s' "$found" | grep -c .)" = 1 ] || fail "shortcuts: '$found'"
      strings -a "$found" | grep -qxF 'C:\Program Files\VnKestrix\vnkestrix.exe' || fail "the shortcut leads elsewhere" ;;
    products) [ "$(products)" = "${arg/none/}" ] || fail "installed versions: '$(products)', not '$arg'" ;;
    starts)
      [ -z "$untried" ] || continue
      for program in vnkestrix vnkestrix-cli; do
        said=$("$wine" "C:\\Program Files\\VnKestrix\\$program.exe" --version 2>&1 </dev/null | tr -d '\r')
        [ "$said" = "$program $version" ] || fail "$program.exe --version from the installed folder: '$said'"
      done ;;
    guard)
      "$wine" reg query "$guard_key" /v GpioTrigger0 2>/dev/null | tr -d '\r' | grep -Eq 'REG_DWORD +0x7$' ||
        fail "the guard table's value is gone" ;;
    *) fail "unknown step: $step" ;;
  esac
done <"$here/msi_steps.txt"
echo "installed, upgraded and removed as msi_steps.txt says"
[ -z "$untried" ] || { echo "SKIP: $untried"; exit 77; }
