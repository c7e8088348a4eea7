#!/usr/bin/env bash
# The kernel suite, as CTest runs it: packs an initramfs with the USB gadget
# and HID modules, busybox, guest_init.sh as /init and the given programs
# with every library ldd lists for them (at the host's paths), boots Debian's
# kernel with it in qemu (software emulation, no KVM), runs the program
# there and passes only when it exited with 0.
#
#   run_kernel_suite.sh WORK_DIR PROGRAM [FILE]...
#
# PROGRAM is the test program to run in the guest; each FILE another
# program, library or data file the test starts or reads.
#
# Exit codes: 0 passed, 1 the test failed or the VM did not finish,
# 77 qemu, cpio, a static busybox or a kernel with the modules is missing
# here (a skip, with the reason). VNK_KERNEL=/boot/vmlinuz-VERSION picks the
# kernel; otherwise the newest one with the modules is booted.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 2 ] || { echo "usage: $0 WORK_DIR PROGRAM [FILE]..." >&2; exit 2; }
work=$1 run=$2 withs=("${@:3}")
skip() { echo "SKIP: $*"; exit 77; }

[ "$(uname -m)" = x86_64 ] || skip "the VM is x86_64, this machine $(uname -m)"
qemu=$(command -v qemu-system-x86_64) || skip "qemu-system-x86_64 not found (package qemu-system-x86)"
command -v cpio >/dev/null || skip "cpio not found (package cpio)"
# A static one: it runs in the image without libraries, and ldd refuses it.
busybox=$(for b in /bin/busybox /usr/bin/busybox; do if [ -x $b ] && ! ldd $b >/dev/null 2>&1; then echo $b; break; fi; done)
[ -n "$busybox" ] || skip "no static busybox found (package busybox-static)"
# Loaded in this order, each needing the ones before it.
modules=(usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_fs hid usbhid hid-generic)
module_files() { # the modules of kernel $1 in order; fails if one is missing
  local m f
  for m in "${modules[@]}"; do
    f=$(find "/usr/lib/modules/$1/kernel" -name "$m.ko*" 2>/dev/null | head -n 1)
    [ -r "$f" ] && echo "$f" || return 1
  done
}
kernel=""
for image in ${VNK_KERNEL:-$(ls -1 /boot/vmlinuz-* 2>/dev/null | sort -rV)}; do
  if [ -r "$image" ] && module_files "${image##*/vmlinuz-}" >/dev/null; then kernel=$image; break; fi
done
[ -n "$kernel" ] || skip "no readable kernel ${VNK_KERNEL:-in /boot} with the modules ${modules[*]} (package linux-image-amd64)"

# ---- The image, with the host's merged /usr links.
rm -rf "$work"
root=$work/root
mkdir -p "$root"/{proc,sys,dev,tmp,etc,vnk-test,usr/bin,usr/sbin,usr/lib,usr/lib64}
for d in bin sbin lib lib64; do if [ -L /$d ]; then ln -s usr/$d "$root/$d"; else mkdir "$root/$d"; fi; done
# Each file with every library ldd lists for it. The offscreen platform
# plugin, fontconfig's settings and one font lay out the program's text; a
# suppression file named in LSAN_OPTIONS must be there too.
extras=$(ls /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqoffscreen.so /etc/fonts/fonts.conf \
  /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf 2>/dev/null || true)
[[ "${LSAN_OPTIONS:-}" =~ suppressions=([^:]+) ]] && extras+=" ${BASH_REMATCH[1]}"
for f in "$run" "${withs[@]}" $extras; do
  libs=$(ldd "$f" 2>/dev/null || true) # none for a data file
  for p in "$f" $(grep -o '/[^ ]*' <<<"$libs"); do cp -nL --parents "$p" "$root"; done
done
find "$root" -type f -exec objcopy --strip-debug {} \; 2>/dev/null || true
i=10
while read -r f; do
  case "$f" in *.xz) xz -dc "$f" ;; *.zst) zstd -qdc "$f" ;; *) cat "$f" ;; esac >"$root/vnk-test/$((i++))-$(basename "${f%.ko*}").ko"
done < <(module_files "${kernel##*/vmlinuz-}")
install -m 755 "$busybox" "$root/bin/busybox"
install -m 755 "$here/guest_init.sh" "$root/init"
echo "$run" >"$root/vnk-test/run"
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do printf 'export %s=%q\n' $name "${!name:-}"; done >"$root/vnk-test/env"
# zstd -3 packs and the guest unpacks fastest; gzip -1 without zstd.
pack=$(command -v zstd >/dev/null && echo "zstd -3 -q" || echo "gzip -1")
(cd "$root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) | $pack >"$work/initramfs.img"
rm -rf "$root"

# ---- The run. The console is the only channel out of the VM; it ends lines with CR LF.
timeout --foreground 420 "$qemu" -accel tcg -cpu max -m 1024 -smp 1 -kernel "$kernel" -initrd "$work/initramfs.img" \
  -append "console=ttyS0 quiet panic=-1" -display none -serial stdio -monitor none -nic none -no-reboot \
  </dev/null 2>&1 | tr -d '\r' | tee "$work/console.log.txt" || true
grep -q "^VNK-KERNEL-END $run 0$" "$work/console.log.txt"
