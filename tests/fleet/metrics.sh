#!/usr/bin/env bash
# The guard service's metrics on the real stack: vnkestrix-guardd over the
# simulator's drop-in library (and the stand-in logind) keeps them in a
# textfile directory, refusing the directories of metrics_dirs.txt and
# never writing through a planted link; promtool accepts its file and
# `vnkestrix-cli metrics`, which shows the same names but the service's own;
# Debian's node-exporter, on the loopback address, serves them without a
# scrape error; the example alert rules pass `promtool check rules` and
# fire as alert_cases.yml expects.
#   metrics.sh BUILD_DIR
. "$(dirname "$0")/../support/suite.sh"
. "$(dirname "$0")/../guardd/private_logind.sh"
need promtool prometheus-node-exporter dbus-daemon python3
build=$(realpath "$1") here=$(realpath "$(dirname "$0")")
cli=$build/cli/vnkestrix-cli guardd=$build/guardd/vnkestrix-guardd rules=$here/../../integrations/prometheus/vnkestrix.rules.yml
export VNKESTRIX_REGISTRY=$work/registry.sqlite3 LD_LIBRARY_PATH=$build/sim-dropin
export REDI_SIM_STATE=$work/state REDI_SIM_LOG=$work/redi.log
start_private_logind "$build/tests/guardd/fake_logind" || fail "no private logind"
printf 'poll-interval-ms = 10\ndebounce-ms = 0\nstartup-grace-s = 0\nstatus-file = %s/status\n' "$work" >"$work/conf"
"$cli" guard set gpio3=1,shutdown || fail "guard set"
# Reads and waits for reports alike: what the service does while it runs.
reads() { grep -cE "GetCurrentInReport|ReadInputReport" "$REDI_SIM_LOG" 2>/dev/null; }
row=0
start() { "$guardd" --config "$work/conf" --metrics-directory "$1" 2>"$work/err" & service=$!; pids+=("$service"); }
stop() { kill -TERM "$service" && wait "$service"; }

# Each directory, with the board idle: the file is written or refused, a
# refusal logged once however many polls it lasts.
while IFS='|' read -r setup expect written; do
  d=$work/d$((++row))
  eval "$setup"
  start "$d"
  reads0=$(reads)
  wait_for 10 eval '[ "$(reads)" -gt $((reads0 + 60)) ]' || fail "$setup: the service does not run"
  [ -f "$d/vnkestrix.prom" ] && [ ! -L "$d/vnkestrix.prom" ] && got=yes || got=no
  [ "$got" = "${written// /}" ] || fail "$setup: metrics file written: $got"
  expect=$(echo $expect)
  [ "$expect" = - ] || [ "$(grep -c "no metrics for node-exporter: .*$expect" "$work/err")" = 1 ] ||
    fail "$setup: not logged once: $expect"$'\n'"$(cat "$work/err")"
  [ $got = no ] || [ "$(stat -c %a "$d/vnkestrix.prom") $(find "$d" -name '.vnkestrix*')" = "644 " ] ||
    fail "$setup: mode $(stat -c %a "$d/vnkestrix.prom"), files left on the way: $(find "$d" -name '.vnkestrix*')"
  stop
  [ ! -e "$d/vnkestrix.prom" ] || fail "$setup: the file outlives the service"
done < <(grep -v '^#' "$here/metrics_dirs.txt")
[ "$(cat "$work/victim")" = keep ] || fail "written through a planted link"

# GPIO 3 goes high: its row fires once, and the file says so.
mkdir -m 755 "$work/textfile"
printf 'input_levels=8\n' >"$REDI_SIM_STATE"
start "$work/textfile"
prom=$work/textfile/vnkestrix.prom
wait_for 10 grep -sqx 'vnkestrix_guard_fires_total{line="gpio3",action="shutdown"} 1' "$prom" ||
  fail "no fire in the metrics: $(cat "$prom" "$work/err")"
promtool check metrics <"$prom" || fail "promtool refuses the service's metrics"
"$cli" metrics >"$work/cli.prom" || fail "vnkestrix-cli metrics failed"
promtool check metrics <"$work/cli.prom" || fail "promtool refuses vnkestrix-cli metrics"
families() { sed -n 's/^# TYPE \([a-z_]*\) .*/\1/p' "$1"; }
only_service=$(comm -13 <(families "$work/cli.prom" | sort) <(families "$prom" | sort) | tr '\n' ' ')
[ "$only_service" = "vnkestrix_controller_exchange_failures_total vnkestrix_guard_fires_total vnkestrix_service_start_time_seconds vnkestrix_watchdog_serves_total " ] ||
  fail "the CLI's and the service's metrics differ in more than the service's own: $only_service"
grep -q '^vnkestrix_build_info{version=".*",firmware="1.0",serial="SIM000001"} 1$' "$work/cli.prom" ||
  fail "build info: $(grep build_info "$work/cli.prom")"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$work/textfile" 2>"$work/exporter.err" &
pids+=($!)
scrape() { python3 -c 'import sys, urllib.request; sys.stdout.write(urllib.request.urlopen(sys.argv[1]).read().decode())' \
  "http://127.0.0.1:$port/metrics" >"$work/scrape" 2>/dev/null; }
wait_for 10 scrape || fail "node-exporter does not answer: $(cat "$work/exporter.err")"
for line in 'node_textfile_scrape_error 0' 'vnkestrix_controller_present 1' 'vnkestrix_line_level{line="gpio3"} 1' \
  'vnkestrix_guard_fires_total{action="shutdown",line="gpio3"} 1' 'vnkestrix_guard_row_info{action="shutdown",level="1",line="gpio3"} 1'; do
  grep -qxF "$line" "$work/scrape" || fail "node-exporter does not serve: $line"$'\n'"$(grep -e vnkestrix -e textfile "$work/scrape")"
done
stop

promtool check rules "$rules" || fail "promtool refuses the alert rules"
promtool test rules "$here/alert_cases.yml" ||
  fail "the alert rules do not fire as alert_cases.yml expects"
echo PASS
