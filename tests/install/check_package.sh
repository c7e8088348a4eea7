#!/usr/bin/env bash
# Builds the Debian package from the build, checks its control data and
# contents, unpacks it into a temporary directory (dpkg-deb -x, no root, the
# system's package database untouched) and runs the installed-tree checks on
# its /usr.
#   check_package.sh CPACK BUILD_DIR SOURCE_DIR LIBDIR VERSION
set -uo pipefail

cpack=$1 build=$2 source_dir=$3 libdir=$4 version=$5
dropin_dir=$build/sim-dropin

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/unpacked/usr

. "$(dirname "$0")/installed_tree_checks.sh"

# With the Makefile generator CPack first builds every target of the project
# (its preinstall step); this test packages what is built, so it names a
# generator that has no such step and leaves building to the build.
if ! (cd "$work" && "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" \
  -D CPACK_CMAKE_GENERATOR=Ninja) >"$work/cpack.out" 2>&1; then
  cat "$work/cpack.out" >&2
  echo "FAIL: cpack -G DEB failed" >&2
  exit 1
fi
package=$(ls "$work"/out/vnkestrix_*.deb 2>/dev/null | head -n 1)
[ -n "$package" ] || { echo "FAIL: cpack made no vnkestrix_*.deb: $(ls "$work/out")" >&2; exit 1; }

[ "$(dpkg-deb -f "$package" Package)" = vnkestrix ] || fail "the package is not named vnkestrix"
[ "$(dpkg-deb -f "$package" Version)" = "$version" ] || fail "the package version is not $version"
[ "$(dpkg-deb -f "$package" Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "the package is not for $(dpkg --print-architecture)"

# The runtime packages the program cannot start without. The platform
# plugins are loaded with dlopen, so only the explicit entry brings them.
depends=$(dpkg-deb -f "$package" Depends)
# One package name per line, without the version constraint.
depends_names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
for needed in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libhidapi-hidraw0 libsqlite3-0 qt6-qpa-plugins; do
  grep -qxF "$needed" <<<"$depends_names" || fail "Depends lacks $needed: $depends"
done

# Everything under /usr, nothing left over from the build machine.
contents=$(dpkg-deb -c "$package" | awk '{print $6}')
outside=$(grep -v -e '^\./$' -e '^\./usr/' <<<"$contents" || true)
[ -z "$outside" ] || fail "the package holds files outside /usr: $outside"
! grep -q -e '^\./usr/local/' -e "$build" <<<"$(dpkg-deb -c "$package")" ||
  fail "the package holds /usr/local or build-tree paths"

dpkg-deb -I "$package" >"$work/info.out"
grep -q ' postinst' "$work/info.out" || fail "the package has no postinst to apply the udev rule"

# Clean at warning level: no E: and no W: line. The I: tags that stay are
# listed, with the reason, in the README.
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$package" >"$work/lintian.out" 2>&1 ||
    fail "lintian: $(grep -E '^[EW]: ' "$work/lintian.out" | head -20)"
else
  echo "SKIP: lintian is not installed (scripts/install-deps.sh --tests installs it)"
fi

dpkg-deb -x "$package" "$work/unpacked"
check_installed_tree

[ "$failures" -eq 0 ] && echo "package $(basename "$package"): all checks passed"
exit $((failures > 0))
