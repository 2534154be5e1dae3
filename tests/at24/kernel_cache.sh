#!/bin/sh
# Fetches Debian's own 6.1 kernel into a cache kept between runs and prints
# the cache entry: vmlinuz, usually vmlinux (the same kernel unpacked, see
# unpack_kernel), and modules/ with the EEPROM driver, the PIIX4 SMBus driver
# and whatever they depend on, listed in load order in modules/load
# (dependencies first).
#
# The version is never written down here: apt's current linux-image-amd64
# names the versioned package, so the cache follows the point releases.
# Cache: $KORVANTA_AT24_CACHE, else /var/cache/korvanta-at24 when writable,
# else ~/.cache/korvanta-at24.
set -eu

die() { echo "at24: $*" >&2; exit 1; }

cache_dir() {
    if [ -n "${KORVANTA_AT24_CACHE:-}" ]; then echo "$KORVANTA_AT24_CACHE"; return; fi
    if mkdir -p /var/cache/korvanta-at24 2>/dev/null && [ -w /var/cache/korvanta-at24 ]; then
        echo /var/cache/korvanta-at24
    else
        echo "${XDG_CACHE_HOME:-$HOME/.cache}/korvanta-at24"
    fi
}

# Prints module files in load order: each one's dependencies (the "depends="
# field of its .modinfo, which is what depmod reads) before itself.
module_closure() {
    tree=$1; shift
    for name in "$@"; do
        file=$(find "$tree" \( -name "$name.ko" -o -name "$(echo "$name" | tr _ -).ko" \
            -o -name "$(echo "$name" | tr - _).ko" \) | head -n 1)
        [ -n "$file" ] || die "module $name is missing from the kernel package"
        deps=$(tr '\0' '\n' < "$file" | sed -n 's/^depends=//p' | head -n 1 | tr , ' ')
        # shellcheck disable=SC2086
        [ -z "$deps" ] || module_closure "$tree" $deps
        echo "$file"
    done
}

# Under emulation the kernel spends seconds inflating itself from its xz
# payload. Unpacked once here, it boots straight through its PVH entry point
# (QEMU needs that ELF note to load it). Without either, vmlinuz stays the one.
unpack_kernel() {
    vmlinuz=$1 vmlinux=$2
    start=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d : -f 1)
    [ -n "$start" ] || return 0
    tail -c +$((start + 1)) "$vmlinuz" | xz -dc > "$vmlinux" 2>/dev/null || true
    if ! readelf -n "$vmlinux" 2>/dev/null | grep -Eq 'PHYS32_ENTRY|type: \(0x00000012\)'; then
        rm -f "$vmlinux"
    fi
}

# The versioned package the meta-package points at, e.g. linux-image-6.1.0-57-amd64;
# without it, the newest 6.1 flavour apt knows of.
kernel_package() {
    name=$(apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-6\.1\.[0-9.-]*-amd64\)$/\1/p' | head -n 1)
    if [ -z "$name" ]; then
        name=$(apt-cache search --names-only '^linux-image-6\.1\.[0-9.-]*-amd64$' 2>/dev/null |
            cut -d ' ' -f 1 | sort -V | tail -n 1)
    fi
    echo "$name"
}

cache=$(cache_dir)
mkdir -p "$cache" || die "cannot create the kernel cache $cache"
package=$(kernel_package)

if [ -n "$package" ] && [ -f "$cache/$package/.complete" ]; then
    echo "$cache/$package"
    exit 0
fi

if [ -n "$package" ]; then
    work=$(mktemp -d "$cache/.fetch.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    chown _apt "$work" 2>/dev/null || true  # apt downloads as its own unprivileged user
    if (cd "$work" && apt-get download "$package" >&2) && dpkg -x "$work"/"$package"_*.deb "$work/root"; then
        # Keep only what the guest boots with: 75 MB instead of 400 MB.
        entry=$work/entry
        mkdir -p "$entry/modules"
        cp "$work"/root/boot/vmlinuz-* "$entry/vmlinuz"
        unpack_kernel "$entry/vmlinuz" "$entry/vmlinux"
        module_closure "$work"/root/lib/modules i2c-piix4 at24 | awk '!seen[$0]++' |
            while read -r file; do
                cp "$file" "$entry/modules/"
                basename "$file" >> "$entry/modules/load"
            done
        rm -rf "$cache/$package"
        mv "$entry" "$cache/$package"
        touch "$cache/$package/.complete"
        echo "$cache/$package"
        exit 0
    fi
    echo "at24: could not download $package" >&2
fi

# Offline: an older kernel from an earlier run still shows the driver's behaviour.
fallback=$(ls -d "$cache"/linux-image-6.1.*-amd64 2>/dev/null | sort -V | while read -r d; do
    [ -f "$d/.complete" ] && echo "$d"; done | tail -n 1)
[ -n "$fallback" ] || die "no Debian linux-image-6.1.*-amd64 package could be found or downloaded (apt-get update? network?)"
echo "at24: using the cached $(basename "$fallback") instead" >&2
echo "$fallback"
