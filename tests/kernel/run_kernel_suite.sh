#!/usr/bin/env bash
# The kernel suite, as CTest runs it: boots Debian's kernel in qemu (software
# emulation, no KVM) with an initramfs that holds the HID modules, the virtual
# controller and the test programs, runs the programs there in order and
# passes only when every one of them exited with 0.
#
#   run_kernel_suite.sh --work DIR --run PROGRAM... [--with FILE]...
#
#   --run   a test program to run in the guest (in the order given)
#   --with  another program or library the tests start or load
#
# Exit codes: 0 all passed, 1 a test failed or the VM did not finish,
# 77 qemu, the kernel or busybox cannot be had here (a skip, with the reason).
# VNK_KERNEL names the kernel image (/boot/vmlinuz-VERSION) to boot instead
# of the newest one with the USB gadget and HID modules; one that cannot be
# booted is an error, not a skip.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work="" runs=() withs=()
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || { echo "run_kernel_suite: option $1 needs a value" >&2; exit 2; }
  case "$1" in
    --work) work=$2 ;;
    --run) runs+=("$2") ;;
    --with) withs+=("$2") ;;
    *) echo "run_kernel_suite: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
[ -n "$work" ] && [ ${#runs[@]} -gt 0 ] || { echo "run_kernel_suite: --work and --run are required" >&2; exit 2; }

skip() { echo "SKIP: $*"; exit 77; }

# ---- What the VM needs; whatever is missing makes this a skip.
[ "$(uname -m)" = x86_64 ] || skip "the test programs are built for $(uname -m), the VM is x86_64"
qemu=$(command -v qemu-system-x86_64) || skip "qemu-system-x86_64 not found (package qemu-system-x86)"
command -v cpio >/dev/null || skip "cpio not found (package cpio)"
busybox=""
for candidate in /bin/busybox /usr/bin/busybox "$(command -v busybox || true)"; do
  # A static busybox runs in the image without libraries; ldd refuses it.
  if [ -x "$candidate" ] && ! ldd "$candidate" >/dev/null 2>&1; then busybox=$candidate; break; fi
done
[ -n "$busybox" ] || skip "no static busybox found (package busybox-static)"

# The modules that make a USB device inside the VM (dummy_hcd with a
# FunctionFS gadget) and bind it as HID, in the order they are loaded.
modules=(usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_fs hid usbhid hid-generic)
# Returns the module file of $2 for kernel version $1, compressed or not.
module_file() {
  local f
  f=$(find "/usr/lib/modules/$1/kernel" \( -name "$2.ko" -o -name "$2.ko.xz" -o -name "$2.ko.zst" \) 2>/dev/null | head -n 1)
  [ -n "$f" ] && [ -r "$f" ] && echo "$f"
}
has_modules() {
  local m
  for m in "${modules[@]}"; do module_file "$1" "$m" >/dev/null || return 1; done
}
kernel="" version=""
if [ -n "${VNK_KERNEL:-}" ]; then
  v=${VNK_KERNEL##*/vmlinuz-}
  if [ ! -r "$VNK_KERNEL" ] || ! has_modules "$v"; then
    echo "VNK_KERNEL=$VNK_KERNEL: not a readable /boot/vmlinuz-VERSION with the modules ${modules[*]}" >&2
    exit 1
  fi
  candidates=("$VNK_KERNEL")
else
  mapfile -t candidates < <(ls -1 /boot/vmlinuz-* 2>/dev/null | sort -rV)
fi
for image in "${candidates[@]}"; do
  v=${image##*/vmlinuz-}
  if [ -r "$image" ] && has_modules "$v"; then
    kernel=$image version=$v
    break
  fi
done
[ -n "$kernel" ] || skip "no readable kernel in /boot with the modules ${modules[*]} (package linux-image-amd64)"
for m in "${modules[@]}"; do
  case "$(module_file "$version" "$m")" in
    *.xz) command -v xz >/dev/null || skip "xz is needed to unpack $m.ko.xz" ;;
    *.zst) command -v zstd >/dev/null || skip "zstd is needed to unpack $m.ko.zst" ;;
  esac
done

# ---- The image.
rm -rf "$work"
mkdir -p "$work"
printf '%s\n' "${runs[@]}" >"$work/run-list"
# A sanitized build runs with the host's sanitizer settings.
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
  if [ -n "${!name:-}" ]; then printf 'export %s=%q\n' "$name" "${!name}"; fi
done >"$work/env"

args=(--out "$work/initramfs.img" --init "$here/guest_init.sh" --busybox "$busybox"
      --etc "run-list=$work/run-list" --etc "env=$work/env")
for m in "${modules[@]}"; do args+=(--module "$(module_file "$version" "$m")"); done
printf '%s\n' "${modules[@]}" >"$work/modules"
args+=(--etc "modules=$work/modules")
for f in "${runs[@]}" "${withs[@]}"; do args+=(--elf "$f"); done
# The program runs offscreen: the platform plugin, fontconfig's settings and
# one font, so that text can be laid out.
qt_plugins=/usr/lib/x86_64-linux-gnu/qt6/plugins
args+=(--elf "$qt_plugins/platforms/libqoffscreen.so")
for f in /etc/fonts/fonts.conf /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf; do
  [ -f "$f" ] && args+=(--data "$f")
done
# Leak suppressions named in LSAN_OPTIONS must exist in the guest as well.
if [[ "${LSAN_OPTIONS:-}" =~ suppressions=([^:]+) ]] && [ -f "${BASH_REMATCH[1]}" ]; then
  args+=(--data "${BASH_REMATCH[1]}")
fi

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
started=$(date +%s.%N)
bash "$here/build_initramfs.sh" "${args[@]}"
packed=$(date +%s.%N)
echo "kernel $kernel; image $(du -h "$work/initramfs.img" | cut -f1) packed in" \
  "$(seconds "$started" "$packed") s"

# ---- The run. The console is the only channel out of the VM.
console="$work/console.log"
set +e
timeout --foreground 420 "$qemu" -accel tcg -cpu max -m 1024 -smp 1 \
  -kernel "$kernel" -initrd "$work/initramfs.img" \
  -append "console=ttyS0 quiet panic=-1" \
  -display none -serial stdio -monitor none -nic none -no-reboot </dev/null 2>&1 | tee "$console"
qemu_status=${PIPESTATUS[0]}
set -e
ended=$(date +%s.%N)
# Serial consoles end lines with CR LF.
tr -d '\r' <"$console" >"$console.txt"

echo
echo "---- kernel suite: VM ran $(seconds "$packed" "$ended") s (qemu exit $qemu_status)"
failed=0
for program in "${runs[@]}"; do
  verdict=$(grep "^VNK-KERNEL-END $program " "$console.txt" | awk '{ print $3 }' || true)
  if [ "$verdict" = 0 ]; then
    echo "passed: $(basename "$program")"
  else
    echo "FAILED: $(basename "$program") (exit ${verdict:-none: it did not finish})"
    failed=1
  fi
done
grep "VNK-KERNEL-ERROR" "$console.txt" && failed=1
grep -q "^VNK-KERNEL-DONE" "$console.txt" || { echo "FAILED: the VM did not reach the end of its run list"; failed=1; }
exit $failed
