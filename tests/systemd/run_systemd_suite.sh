#!/usr/bin/env bash
# The headless package under a real PID 1: a Debian 12 root (mmdebstrap,
# cached with the package's dependencies, systemd, udev and D-Bus, and the
# host kernel's USB and HID modules) booted in qemu with Debian's kernel and
# initrd. guest_test.sh runs there as a service, from a second disk that
# holds this build's packages, a package shaped like 0.9's single one, the
# virtual board and guardd.conf; it ends with the guard service asking
# logind to power the guest off, so qemu must exit by itself.
#   run_systemd_suite.sh CPACK BUILD_DIR VIRTUAL_BOARD
# Exit codes: 0 passed, 1 failed, 77 skipped (the reason printed).
. "$(dirname "$0")/../support/suite.sh"
. "$(dirname "$0")/debian_root.sh"
here=$(cd "$(dirname "$0")" && pwd)
started=$SECONDS
[ "$(uname -m)" = x86_64 ] || skip "the guest is x86_64, this machine $(uname -m)"
need qemu-system-x86_64 mkfs.ext4 dpkg-deb
kernel=${VNK_KERNEL:-$(ls -1 /boot/vmlinuz-* 2>/dev/null | sort -rV | head -n 1)}
version=${kernel##*/vmlinuz-} initrd=/boot/initrd.img-${kernel##*/vmlinuz-}
[ -r "$kernel" ] && [ -r "$initrd" ] && [ -d /usr/lib/modules/"$version" ] ||
  skip "no readable kernel, initrd and modules ${VNK_KERNEL:-in /boot} (package linux-image-amd64)"
make_debs "$1" "$2"

# The image: what the package depends on is in it, so apt-get installs the
# package in the guest without the network; the modules are the host's.
packages=$(dpkg-deb -f "$headless" Depends | tr ',' '\n' | sed 's/^ *//; s/[ |(].*//' | sort -u | paste -sd,)
modules="kernel/drivers/usb kernel/drivers/hid kernel/drivers/input kernel/fs/configfs modules.order modules.builtin modules.builtin.modinfo"
debian_root systemd-guest --variant=minbase \
  --include="systemd-sysv,udev,dbus,kmod,$packages" \
  --customize-hook="mkdir -p \"\$1/usr/lib/modules/$version\" && cd /usr/lib/modules/$version && cp -a --parents $modules \"\$1/usr/lib/modules/$version/\" && chroot \"\$1\" depmod $version" \
  --customize-hook='mkdir "$1/vnk-test" && echo "/dev/vdb /vnk-test ext4 ro 0 0" >"$1/etc/fstab" && echo guest >"$1/etc/hostname"' \
  --customize-hook='ln -s /dev/null "$1/etc/systemd/system/serial-getty@ttyS0.service"' \
  --customize-hook='printf "[Unit]\nAfter=multi-user.target\nRequiresMountsFor=/vnk-test\n[Service]\nExecStart=/bin/bash /vnk-test/guest_test.sh\nStandardOutput=journal+console\nStandardError=journal+console\n" >"$1/etc/systemd/system/vnk-test.service" && ln -s ../vnk-test.service "$1/etc/systemd/system/multi-user.target.wants/"'
[ -f "$dir.ext4" ] || { mkfs.ext4 -q -F -d "$dir" "$dir.ext4.new" 2G >/dev/null && mv "$dir.ext4.new" "$dir.ext4"; } || fail "mkfs.ext4 of $dir"
prepared=$SECONDS

# 0.9's package: the same name, version 0.9, the files that have moved to
# vnkestrix-headless, and from old_package/ its unit, enabled on every
# machine, and its maintainer scripts.
old=$work/old
dpkg-deb -x "$headless" "$old" && mv "$old/usr/share/doc/vnkestrix-headless" "$old/usr/share/doc/vnkestrix" &&
  cp -r "$here/old_package/." "$old/" && mkdir "$work/data" &&
  dpkg-deb -b --root-owner-group "$old" "$work/data/vnkestrix_0.9.deb" >/dev/null || fail "cannot build 0.9's package"
cp "$headless" "$3" "$here/guest_test.sh" "$here/guardd.conf" "$work/data/"
mkfs.ext4 -q -F -d "$work/data" "$work/data.img" 256M >/dev/null || fail "mkfs.ext4 of the data disk"

accel="-accel tcg"
[ -w /dev/kvm ] && accel="-accel kvm $accel"
booted=$SECONDS
timeout --foreground 1200 qemu-system-x86_64 $accel -cpu max -m 1024 -smp 2 -kernel "$kernel" -initrd "$initrd" \
  -append "root=/dev/vda rw console=ttyS0 quiet systemd.show_status=0 panic=-1" \
  -drive file="$dir.ext4",format=raw,if=virtio,snapshot=on -drive file="$work/data.img",format=raw,if=virtio,readonly=on \
  -display none -serial file:"$work/console.raw" -monitor none -nic none -no-reboot </dev/null >"$work/qemu.out" 2>&1
qemu=$?
# The guest's lines come through the journal: "[ SECONDS] bash[PID]: VNK ...".
tr -d '\r' <"$work/console.raw" | sed -n 's/^\[ *\([0-9.]*\)\].*: \(VNK .*\)/\1 \2/p; s/^\[ *\([0-9.]*\)\] reboot: Power down/\1 VNK down/p' >"$work/steps"
cut -d' ' -f2- "$work/steps" | grep -v '^VNK down'
echo "timings: image ready after $((prepared - started)) s, guest run $((SECONDS - booted)) s, whole test $((SECONDS - started)) s;" \
  "guarded line to power-off $(awk '$3 == "waiting" { t = $1 } $3 == "down" && t { print $1 - t }' "$work/steps") s (guest clock)"
on_fail() { echo "--- console"; tr -d '\r' <"$work/console.raw" | tail -n 80; }
! grep -q 'VNK FAIL' "$work/steps" || fail "in the guest"
[ "$qemu" = 0 ] || fail "qemu did not end by itself (exit code $qemu)"
# After the guarded line, the service's own word, then the power-off.
sed -n '/VNK waiting/,$p' "$work/steps" | grep -q 'VNK guardd: GPIO 3 is 1: asking for shutdown$' &&
  [ "$(tail -n 1 "$work/steps" | cut -d' ' -f2-)" = "VNK down" ] || fail "the guard service did not power the guest off"
echo PASS
