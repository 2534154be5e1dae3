#!/bin/sh
# Builds the at24 guest's initramfs: static busybox, the kernel's modules from
# the cache entry, init.sh as /init, the static test program, and the library
# package's udev rule and sysusers.d entry with what applies them, and the
# static korvanta-hwinfo as /korvanta-hwinfo.
# Usage: make_initramfs.sh KERNEL_ENTRY GUEST_PROGRAM OUTPUT SYSTEM_DIR HWINFO
set -eu
entry=$1 guest=$2 output=$3 system=$4 hwinfo=$5
here=$(dirname "$0")

busybox=$(command -v busybox || true)
[ -n "$busybox" ] || { echo "at24: busybox not found: install the Debian package busybox-static" >&2; exit 1; }
if ldd "$busybox" >/dev/null 2>&1; then
    echo "at24: $busybox is dynamically linked: install the Debian package busybox-static" >&2
    exit 1
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 755 "$root"  # the guest's /: mktemp's 0700 would shut out every user but root
mkdir -p "$root/bin" "$root/dev" "$root/etc" "$root/proc" "$root/sys" "$root/tmp" "$root/modules"
cp "$busybox" "$root/bin/busybox"
cp "$here/init.sh" "$root/init"
cp "$guest" "$root/at24-guest"
cp "$hwinfo" "$root/korvanta-hwinfo"
cp "$here/apply_udev_rule.sh" "$root/apply-udev-rule"
cp "$system/60-korvanta-eeprom.rules" "$system/korvanta-hardware.sysusers" "$root/"
cp "$entry"/modules/* "$root/modules/"
# Left uncompressed: unpacking it is quicker than inflating it under emulation.
(cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null) > "$output.tmp"
mv "$output.tmp" "$output"
