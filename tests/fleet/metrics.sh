#!/usr/bin/env bash
# The guard service's metrics on the real stack: vnkestrix-guardd over the
# simulator's drop-in library (and the stand-in logind) keeps them in a
# textfile directory, refusing the directories of metrics_dirs.txt and
# never writing through a planted link; promtool accepts its file and
# `vnkestrix-cli metrics`, which shows the same names but the service's own;
# Debian's node-exporter, on the loopback address, serves them without a
# scrape error (served_lines.txt); the example alert rules pass `promtool
# check rules` and fire as alert_cases.yml expects.
#   metrics.sh BUILD_DIR
. "$(dirname "$0")/../support/suite.sh"
need promtool prometheus-node-exporter dbus-daemon python3
. "$(dirname "$0")/../guardd/service_over_dropin.sh" "$1"
here=$(realpath "$(dirname "$0")")
rules=$here/../../integrations/prometheus/vnkestrix.rules.yml
row=0
stop() { kill -TERM "$service" && wait "$service" || fail "the service did not stop cleanly: $(tail -3 "$work/err")"; }

# Each directory, with the board idle: the file is written or refused, a
# refusal logged once however many polls it lasts.
while IFS='|' read -r setup expect written; do
  d=$work/d$((++row))
  eval "$setup"
  start_service --metrics-directory "$d"
  reads0=$(reads)
  wait_for 10 eval '[ "$(reads)" -gt $((reads0 + 60)) ]' || fail "$setup: the service does not run"
  [ -f "$d/vnkestrix.prom" ] && [ ! -L "$d/vnkestrix.prom" ] && got=yes || got=no
  [ "$got" = "$written" ] || fail "$setup: metrics file written: $got"
  [ "$expect" = - ] || [ "$(grep -c "no metrics for node-exporter: .*$expect" "$work/err")" = 1 ] ||
    fail "$setup: not logged once: $expect"$'\n'"$(cat "$work/err")"
  [ $got = no ] || [ "$(stat -c %a "$d/vnkestrix.prom") $(find "$d" -name '.vnkestrix*')" = "644 " ] ||
    fail "$setup: mode $(stat -c %a "$d/vnkestrix.prom"), files left on the way: $(find "$d" -name '.vnkestrix*')"
  stop
  [ ! -e "$d/vnkestrix.prom" ] || fail "$setup: the file outlives the service"
done < <(sed '/^#/d; s/ | /|/g' "$here/metrics_dirs.txt")
[ "$(cat "$work/victim")" = keep ] || fail "written through a planted link"

# GPIO 3 goes high: its row fires once, and the file says so.
mkdir -m 755 "$work/textfile"
printf 'input_levels=8\n' >"$REDI_SIM_STATE"
start_service --metrics-directory "$work/textfile"
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

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$work/textfile" 2>"$work/exporter.err" &
pids+=($!)
scrape() { python3 -c 'import sys, urllib.request; sys.stdout.write(urllib.request.urlopen(sys.argv[1]).read().decode())' \
  "http://127.0.0.1:$port/metrics" >"$work/scrape" 2>/dev/null; }
wait_for 10 scrape || fail "node-exporter does not answer: $(cat "$work/exporter.err")"
missing=$(grep -v '^#' "$here/served_lines.txt" | grep -vxFf "$work/scrape")
[ -z "$missing" ] || fail "node-exporter does not serve: $missing"$'\n'"$(grep -e vnkestrix -e textfile "$work/scrape")"
stop

promtool check rules "$rules" || fail "promtool refuses the alert rules"
promtool test rules "$here/alert_cases.yml" ||
  fail "the alert rules do not fire as alert_cases.yml expects"
echo PASS
