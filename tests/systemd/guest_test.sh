#!/bin/bash
# Runs in the systemd suite's guest as a service, from /vnk-test (the data
# disk run_systemd_suite.sh made). Each step prints "VNK ..." on the console;
# a failed one "VNK FAIL ..." and powers the guest off. It ends by holding a
# guarded line at its level and waiting for the guard service to have the
# guest powered off.
set -u
d=/vnk-test unit=vnkestrix-guardd.service
say() { echo "VNK $*"; }
fail() { say "FAIL $*"; journalctl -q -b -u $unit --no-pager | tail -n 20; systemctl poweroff; exit 1; }
# took STEP T0: how long the step took since T0 (an $EPOCHREALTIME).
took() { say "time $1: $(((${EPOCHREALTIME/./} - ${2/./}) / 1000)) ms"; }
wait_until() { local end=$((SECONDS + $1)); shift; until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.02; done; }
active() { systemctl -q is-active $unit; }
opened() { grep -q '^controller=/dev/hidraw' /run/vnkestrix/guardd.status 2>/dev/null; }
# board COMMAND: has virtual_board.cpp do it and waits for its answer.
board() {
  echo "$1" >&"${BOARD[1]}"
  read -r -t 120 answer <&"${BOARD[0]}" && [[ $answer != error* ]] || fail "virtual board, $1: ${answer:-no answer}"
}
say "booted in $(cut -d' ' -f1 /proc/uptime) s"
install -D -m 644 $d/guardd.conf /etc/vnkestrix/guardd.conf

# 0.9's package with its service enabled and running, and an owner and mode
# for the guard store registered by the administrator; then the upgrade.
dpkg -i $d/vnkestrix_0.9.deb >/tmp/dpkg.out 2>&1 && active || fail "0.9's package: $(tail -n 5 /tmp/dpkg.out)"
mkdir -p -m 750 /var/lib/vnkestrix && dpkg-statoverride --add root root 0750 /var/lib/vnkestrix
t=$EPOCHREALTIME
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $d/vnkestrix-headless_*.deb >/tmp/apt.out 2>&1 ||
  fail "apt-get install vnkestrix-headless over 0.9: $(tail -n 5 /tmp/apt.out)"
took "apt-get install over 0.9" "$t"
cursor=$(journalctl -q -n 0 --show-cursor | sed -n 's/^-- cursor: //p')
state="$(systemctl is-enabled $unit 2>&1), $(stat -c '%U:%G %a' /var/lib/vnkestrix)"
[ "$state" = "static, root:root 750" ] || fail "after the upgrade: $state, not static (started by its board alone) and the registered root:root 750"
modprobe dummy_hcd && modprobe usb_f_fs && { mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config; } ||
  fail "the USB gadget modules"
sleep 3
! active && [ -z "$(journalctl -q -u $unit --after-cursor="$cursor")" ] || fail "without a board the service runs or logs"
! grep -qw hidraw /proc/devices || fail "hid is loaded before any board: the first plug-in would prove nothing"

# GPIO 3 is high from the start; the row that it fires comes last.
coproc BOARD { "$d/vnk_virtual_board" 0x08; }
t=$EPOCHREALTIME
board plug
took "plug-in to hidraw node" "$t"
wait_until 120 active || fail "plugging the board in did not start the service"
took "plug-in to service started" "$t"
wait_until 120 opened || fail "the service started but does not have the board open"
took "plug-in to board open in the service" "$t"
# Unplugged, the service stays and finds the board again when it comes back.
board unplug
wait_until 120 eval "! opened" && sleep 1 && active || fail "the service ended or kept the board when it was unplugged"
t=$EPOCHREALTIME
board plug
wait_until 120 opened || fail "the service did not find the board again after a re-plug"
took "re-plug to board open in the service" "$t"
# Started before hid was ever loaded (by hand, as 0.9's enabled unit was at
# boot), the service must still be allowed to open the board once it comes.
board unplug
systemctl stop $unit && modprobe -r hid_generic usbhid hid && systemctl start $unit || fail "restarting without hid"
board plug
wait_until 120 opened || fail "the service, started before hid was loaded, cannot open the board"

journalctl -f -q -n 0 -o cat -u $unit | sed -u 's/^/VNK guardd: /' &
vnkestrix-cli guard set gpio3=1,shutdown || fail "vnkestrix-cli guard set"
say "waiting for logind to power the guest off"
sleep 120
fail "GPIO 3 has held its guarded level for 120 s and the guest is still up"
