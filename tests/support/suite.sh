# Sourced by the shell suites. A scratch directory $work and the background
# processes the suite adds to $pids are gone when it ends, however it ends,
# after the commands it adds to $cleanups.
# fail stops the suite (after its on_fail hook, if it has one); need skips it
# (exit code 77) when a tool is not installed.
set -uo pipefail
work=$(mktemp -d) pids=() cleanups=()
trap 'for c in "${cleanups[@]}"; do eval "$c"; done; for p in "${pids[@]}"; do kill "$p" && wait "$p"; done 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "FAIL: $*" >&2; if declare -F on_fail >/dev/null; then on_fail; fi; exit 1; }
need() { local t; for t; do command -v "$t" >/dev/null || { echo "SKIP: no $t (scripts/install-deps.sh --tests)"; exit 77; }; done; }
# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds; false once SECONDS have passed.
wait_for() { local end=$((SECONDS + $1)); shift; until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.1; done; }
