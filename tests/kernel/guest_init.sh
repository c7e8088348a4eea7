#!/bin/busybox sh
# /init of the kernel-suite VM. Loads the USB and HID modules, runs every program of
# /vnk-test/run-list in order and powers off. The host reads the verdicts from
# the console: "VNK-KERNEL-END <program> <exit code>" per program, then
# "VNK-KERNEL-DONE" once all have run.
/bin/busybox mkdir -p /bin /sbin /usr/bin /usr/sbin /proc /sys /dev /tmp
/bin/busybox --install -s
export PATH=/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# /tmp stays on the root file system (RAM already): a mount there would hide
# programs that were built under /tmp on the host.

# In the order of the list: each needs the ones before it. dummy_hcd with
# two device controllers, for a second device beside the controller.
while read -r module; do
  args=""
  [ "$module" = dummy_hcd ] && args="num=2"
  insmod "/lib/modules/vnk-test/$module.ko" $args || echo "VNK-KERNEL-ERROR insmod $module failed"
done </vnk-test/modules
mount -t configfs none /sys/kernel/config || echo "VNK-KERNEL-ERROR configfs mount failed"

export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 HOME=/tmp XDG_RUNTIME_DIR=/tmp/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# The host's additions, such as a sanitized build's settings.
. /vnk-test/env
cd /tmp

while IFS= read -r program <&3; do
  echo "VNK-KERNEL-BEGIN $program"
  "$program" </dev/null
  echo "VNK-KERNEL-END $program $?"
done 3</vnk-test/run-list
echo "VNK-KERNEL-DONE"
poweroff -f
