#!/bin/bash
# Plants the faults of faults.txt one at a time, rebuilds, runs the suites and
# prints one line per fault:
#   ID caught-by: test1,test2     tests that failed with the fault in place
#   ID BUILD-FAILED               the compiler caught it
#   ID SURVIVED                   every test passed
#   ID ERROR: ...                 the fault could not be planted
# Usage: run.sh [--all] BUILD_DIR [IDS...]   or   run.sh --check [IDS...]
#   --all    also run the slow suites (kernel, e2e, install, Wine)
#   --check  only check that every pattern matches exactly once
# MUTATION_TESTS=REGEX runs only the tests whose names match (a quick check of
# one suite while it is being reworked); MUTATION_JOBS=N builds and runs N at a time.
# BUILD_DIR must already be configured (with ccache as the launcher, so that
# restoring a file costs a cache hit). Tests that fail on the unchanged tree
# are named first and left out of the results; a summary ends the output:
# for each test, the faults it catches and how many of them no other test does.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(git -C "$here" rev-parse --show-toplevel)
faults="$here/faults.txt"
slow='kernel_hid|e2e_program|install_|winreg_conformance_wine'
all=0 check=0
while [[ $# -gt 0 && $1 == --* ]]; do
    case $1 in
        --all) all=1 ;;
        --check) check=1 ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
if [[ $check == 0 ]]; then
    [[ $# -gt 0 ]] || { echo "usage: $0 [--all] BUILD_DIR [IDS...] | $0 --check [IDS...]" >&2; exit 2; }
    build=$(cd "$1" && pwd) || exit 2
    shift
fi
export CCACHE_BASEDIR=/work CCACHE_DIR=/work/.ccache

# plant ID: applies the fault to the tree and prints its file; nonzero and a
# message when the fault is unknown, its file has local changes, or its
# pattern does not match exactly once. "plant --list" prints the IDs.
plant() {
    python3 - "$root" "$faults" "$1" "$check" <<'EOF'
import re, subprocess, sys
root, faults, wanted, check_only = sys.argv[1:]
sep = re.compile(r'(?<!\\)\|')
def unescape(text):
    return text.replace('\\|', '|')
for line in open(faults, encoding='utf-8'):
    line = line.rstrip('\n')
    if not line.strip() or line.startswith('#'):
        continue
    fields = sep.split(line)
    if len(fields) != 5:
        sys.exit(f'{line.split("|")[0]} ERROR: expected 5 fields, found {len(fields)}')
    fid, path, pattern, replacement, _ = fields
    if wanted == '--list':
        print(fid)
        continue
    if fid != wanted:
        continue
    full = f'{root}/{path}'
    if subprocess.run(['git', '-C', root, 'diff', '--quiet', 'HEAD', '--', path]).returncode:
        sys.exit(f'{fid} ERROR: {path} has local changes')
    text = open(full, encoding='utf-8').read()
    count = len(re.findall(pattern, text))
    if count != 1:
        sys.exit(f'{fid} ERROR: pattern matches {count} times in {path}')
    if check_only == '0':
        new = re.sub(pattern, lambda _: unescape(replacement).replace('\\n', '\n'), text, count=1)
        open(full, 'w', encoding='utf-8').write(new)
    print(path)
    sys.exit(0)
if wanted != '--list':
    sys.exit(f'{wanted} ERROR: no such fault')
EOF
}

planted=
restore() {
    [[ -n $planted ]] && git -C "$root" checkout -- "$planted"
    planted=
}
trap restore EXIT
trap 'restore; exit 130' INT TERM

# Prints the names of the tests that fail among those ctest ARGS selects,
# comma-separated.
run_tests() {
    ctest --test-dir "$build" -j"${MUTATION_JOBS:-1}" "$@" 2>&1 \
        | sed -n '/The following tests FAILED/,$p' \
        | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' | paste -sd, -
}

# Runs the suites; prints the failed tests. A failed test is run once more
# and counts only when it fails again, so that a test that fails now and then
# under load blames no fault.
failed_tests() {
    local exclude=() failed
    [[ $all == 1 ]] || exclude=(-E "$slow")
    [[ -z ${MUTATION_TESTS:-} ]] || exclude+=(-R "$MUTATION_TESTS")
    failed=$(run_tests "${exclude[@]}")
    [[ -z $failed ]] || run_tests -R "^(${failed//,/|})\$"
}

ids=("$@")
[[ ${#ids[@]} -gt 0 ]] || mapfile -t ids < <(plant --list)

if [[ $check == 1 ]]; then
    status=0
    for id in "${ids[@]}"; do plant "$id" >/dev/null || status=1; done
    exit $status
fi

cmake --build "$build" -j${MUTATION_JOBS:-1} >/dev/null 2>&1 || { echo "the unchanged tree does not build" >&2; exit 1; }
known=$(failed_tests)
echo "unchanged tree: ${known:-every test passes}"
results=()
for id in "${ids[@]}"; do
    start=$SECONDS
    planted=$(plant "$id" 2>&1) || { echo "$planted"; planted=; continue; }
    if ! cmake --build "$build" -j"${MUTATION_JOBS:-1}" >/dev/null 2>&1; then
        result="$id BUILD-FAILED"
    else
        caught=$(failed_tests | tr , '\n' | grep -vxF -f <(tr , '\n' <<<"$known") | paste -sd, -)
        result="$id ${caught:+caught-by: }${caught:-SURVIVED}"
    fi
    echo "$result"
    results+=("$result")
    restore
    echo "  ($id: $((SECONDS - start)) s)" >&2
done
cmake --build "$build" -j1 >/dev/null 2>&1
[[ ${#results[@]} -gt 0 ]] && printf '%s\n' "${results[@]}" | awk '
    $2 == "caught-by:" {
        caught++; n = split($3, t, ",")
        for (i = 1; i <= n; i++) per[t[i]]++
        if (n == 1) alone[t[1]]++
    }
    $2 == "BUILD-FAILED" { built++ }
    $2 == "SURVIVED" { survivors = survivors " " $1 }
    END {
        printf "%d faults: %d caught by tests, %d by the compiler, survived:%s\n", NR, caught, built, survivors ? survivors : " none"
        fflush()
        for (name in per) printf "  %-24s catches %2d, alone %d\n", name, per[name], alone[name] | "sort -k3,3nr"
    }'
