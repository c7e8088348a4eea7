#!/bin/busybox sh
# /init of the kernel-suite VM: loads the USB and HID modules (in the order
# of their names; dummy_hcd with two device controllers, for another HID
# device beside the controller), runs the program named in /vnk-test/run and
# powers off. The host reads the verdict from the console:
# "VNK-KERNEL-END <program> <exit code>".
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in /vnk-test/*.ko; do
  insmod "$module" $(case $module in *-dummy_hcd.ko) echo num=2 ;; esac) || echo "VNK-KERNEL-ERROR insmod $module"
done
mount -t configfs none /sys/kernel/config || echo "VNK-KERNEL-ERROR configfs mount failed"
# /tmp stays on the root file system (RAM already): a mount there would hide
# programs that were built under /tmp on the host.
export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 HOME=/tmp XDG_RUNTIME_DIR=/tmp/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
# dbus-daemon wants a machine ID and looks its clients' users up.
echo 0123456789abcdef0123456789abcdef >/etc/machine-id
echo root:x:0:0:root:/tmp:/bin/sh >/etc/passwd
echo root:x:0: >/etc/group
. /vnk-test/env
cd /tmp
program=$(cat /vnk-test/run)
"$program" </dev/null
echo "VNK-KERNEL-END $program $?"
poweroff -f
