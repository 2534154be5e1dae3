#!/bin/sh
# Builds the at24 guest's initramfs: static busybox, the kernel's modules from
# the cache entry, init.sh as /init and the static test program.
# Usage: make_initramfs.sh KERNEL_ENTRY GUEST_PROGRAM OUTPUT
set -eu
entry=$1 guest=$2 output=$3
here=$(dirname "$0")

busybox=$(command -v busybox || true)
[ -n "$busybox" ] || { echo "at24: busybox not found: install the Debian package busybox-static" >&2; exit 1; }
if ldd "$busybox" >/dev/null 2>&1; then
    echo "at24: $busybox is dynamically linked: install the Debian package busybox-static" >&2
    exit 1
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/bin" "$root/dev" "$root/proc" "$root/sys" "$root/tmp" "$root/modules"
cp "$busybox" "$root/bin/busybox"
cp "$here/init.sh" "$root/init"
cp "$guest" "$root/at24-guest"
cp "$entry"/modules/* "$root/modules/"
# Left uncompressed: unpacking it is quicker than inflating it under emulation.
(cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null) > "$output.tmp"
mv "$output.tmp" "$output"
