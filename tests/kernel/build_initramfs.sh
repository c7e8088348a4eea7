#!/usr/bin/env bash
# Builds the kernel suite's initramfs: busybox, the kernel modules, an /init,
# and the given programs with the shared libraries they load.
#
#   build_initramfs.sh --out IMAGE --init SCRIPT --busybox FILE
#                      --module FILE... [--elf FILE]... [--data FILE]...
#                      [--etc NAME=FILE]...
#
#   --module  a kernel module (.ko, .ko.xz or .ko.zst), put in
#             /lib/modules/vnk-test/ uncompressed
#   --elf     a program or library, at its own path, with every library ldd
#             lists for it at the path ldd prints (debug info stripped)
#   --data    a plain file, at its own path
#   --etc     a file put at /vnk-test/NAME (the init's run list and env)
# Any failure ends the script with a message and a non-zero exit code.
set -euo pipefail

die() { echo "build_initramfs: $*" >&2; exit 1; }

out="" init="" busybox=""
modules=() elves=() data=() etc=()
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || die "option $1 needs a value"
  case "$1" in
    --out) out=$2 ;;
    --init) init=$2 ;;
    --busybox) busybox=$2 ;;
    --module) modules+=("$2") ;;
    --elf) elves+=("$2") ;;
    --data) data+=("$2") ;;
    --etc) etc+=("$2") ;;
    *) die "unknown option $1" ;;
  esac
  shift 2
done
[ -n "$out" ] && [ -n "$init" ] && [ -n "$busybox" ] || die "--out, --init and --busybox are required"

root=$(mktemp -d "${out%/*}/initramfs.XXXXXX")
trap 'rm -rf "$root"' EXIT

# Same layout as the host for the paths ldd prints: on a merged-/usr system
# /lib and /lib64 are links into /usr, and so they are in the image.
for dir in bin sbin lib lib64; do
  if [ -L "/$dir" ]; then
    ln -s "usr/$dir" "$root/$dir"
    mkdir -p "$root/usr/$dir"
  else
    mkdir -p "$root/$dir"
  fi
done
mkdir -p "$root/proc" "$root/sys" "$root/dev" "$root/tmp" "$root/etc" "$root/vnk-test" \
  "$root/lib/modules/vnk-test"

# Copies $1 to the same path in the image, following links; strips debug
# info from ELF files (the symbols stay, for sanitizer reports).
place() {
  local source=$1 target="$root$1"
  [ -e "$target" ] && return 0
  mkdir -p "$(dirname "$target")"
  cp -L "$source" "$target"
  if [ "${2:-}" = elf ] && command -v objcopy >/dev/null; then
    objcopy --strip-debug "$target" 2>/dev/null || true
  fi
}

for file in "${elves[@]}"; do
  [ -f "$file" ] || die "missing $file"
  place "$file" elf
  # "name => /path (addr)", "/path (addr)" for the loader; vdso has no path.
  libs=$(ldd "$file") || die "ldd failed for $file"
  if grep -q "not found" <<<"$libs"; then
    die "$file: $(grep "not found" <<<"$libs" | tr -s ' \t' ' ')"
  fi
  while read -r lib; do
    place "$lib" elf
  done < <(awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' <<<"$libs")
done

for file in "${data[@]}"; do
  [ -f "$file" ] || die "missing $file"
  place "$file"
done

for entry in "${etc[@]}"; do
  cp "${entry#*=}" "$root/vnk-test/${entry%%=*}"
done

for module in "${modules[@]}"; do
  name=$(basename "$module")
  case "$module" in
    *.ko) cp "$module" "$root/lib/modules/vnk-test/$name" ;;
    *.ko.xz) xz -dc "$module" >"$root/lib/modules/vnk-test/${name%.xz}" ;;
    *.ko.zst) zstd -qdc "$module" >"$root/lib/modules/vnk-test/${name%.zst}" ;;
    *) die "not a kernel module: $module" ;;
  esac
done

cp "$busybox" "$root/bin/busybox"
cp "$init" "$root/init"
chmod 755 "$root/init" "$root/bin/busybox"

# Light packing: the image is packed at every run and unpacked by the guest
# under software emulation, where harder packing costs more than it saves.
# zstd -3 packs and unpacks fastest (the kernel reads both formats).
pack=(gzip -1)
command -v zstd >/dev/null && pack=(zstd -3 -q)
(cd "$root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) | "${pack[@]}" >"$out.part"
mv "$out.part" "$out"
