# Sourced by the tests of the Windows cross build. windows_build DIR builds
# it into DIR with scripts/build-windows.sh; need_wine sets `wine` and a
# throw-away WINEPREFIX in DIR. Both exit 77 with the reason (a skip) when
# mingw-w64, hidapi's source or wine64 cannot be had.
windows_build() {
  mkdir -p "$1" && "$(dirname "${BASH_SOURCE[0]}")/../../scripts/build-windows.sh" "$1" >"$1/build.log" 2>&1 ||
    { local rc=$?; tail -n 40 "$1/build.log"; [ $rc -eq 77 ] && echo "SKIP: see above"; exit $rc; }
}

need_wine() {
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  [ -x "$wine" ] || { echo "SKIP: no wine64 (scripts/install-deps.sh --tests installs it)"; exit 77; }
  export WINEPREFIX=$1/wine-prefix WINEDEBUG=-all
  unset DISPLAY WAYLAND_DISPLAY
}
