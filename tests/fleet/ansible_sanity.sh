#!/usr/bin/env bash
# `ansible-test sanity` on the Ansible collection, in a copy laid out as
# ansible_collections/vantrel/vnkestrix. ansible-test installs each test's
# tools into a virtual environment from the Python package index, which these
# machines cannot reach: the environments are made here instead, over
# Debian's python3 and its packages of the same tools (pylint, pycodestyle,
# yamllint, voluptuous), and marked as ready so that ansible-test takes
# them. Skipped: "changelog", whose tool (antsibull-changelog) Debian does
# not package; the collection keeps no changelog fragments.
#   ansible_sanity.sh
. "$(dirname "$0")/../support/suite.sh"
need ansible-test pylint pycodestyle yamllint
/usr/bin/python3 -c 'import voluptuous, jinja2, yaml' 2>/dev/null || { echo "SKIP: no python3-voluptuous (scripts/install-deps.sh --tests)"; exit 77; }
copy=$work/ansible_collections/vantrel/vnkestrix
mkdir -p "$copy" && cp -r "$(dirname "$0")/../../integrations/ansible/." "$copy/"
cd "$copy" || fail "no copy"
export HOME=$work/home
version=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
# Each run stops at the first environment it would fetch; the loop makes it.
for _ in $(seq 1 20); do
  out=$(ansible-test sanity --python "$version" --skip-test changelog 2>&1)
  code=$?
  venv=$(sed -n 's/^FATAL: Python .* at "\(.*\)\/bin\/python" does not have pip available.*/\1/p' <<<"$out")
  [ -n "$venv" ] || break
  /usr/bin/python3 -m venv --system-site-packages --without-pip "$venv" || fail "cannot make $venv"
  touch "$venv/marker.txt" && echo true >"$venv/meta.yaml.json"
done
[ $code = 0 ] && ! grep -q '^WARNING: Skipping sanity test' <<<"$out" || fail "ansible-test sanity:"$'\n'"$out"
echo PASS
