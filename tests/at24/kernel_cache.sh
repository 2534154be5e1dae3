#!/bin/sh
# Fetches this platform's own Debian kernel (6.1 on Debian 12, 6.12 on Debian
# 13) into a cache kept between runs and prints the cache entry: vmlinuz,
# usually vmlinux (the same kernel unpacked, see unpack_kernel), and modules/
# with the EEPROM driver, the PIIX4 SMBus driver and whatever they depend on,
# uncompressed for busybox's insmod and listed in load order in modules/load
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
        file=$(find "$tree" \( -name "$name.ko*" -o -name "$(echo "$name" | tr _ -).ko*" \
            -o -name "$(echo "$name" | tr - _).ko*" \) | head -n 1)
        [ -n "$file" ] || die "module $name is missing from the kernel package"
        deps=$(module_content "$file" | tr '\0' '\n' | sed -n 's/^depends=//p' | head -n 1 | tr , ' ')
        # A subshell: sh has no local variables, and the call would change file.
        # shellcheck disable=SC2086
        [ -z "$deps" ] || (module_closure "$tree" $deps)
        echo "$file"
    done
}

# A module file's ELF content: Debian 13's kernels ship them xz-compressed.
module_content() {
    case $1 in
        *.ko) cat "$1" ;;
        *.ko.xz) xz -dc "$1" ;;
        *.ko.zst) zstd -dcq "$1" ;;
        *.ko.gz) gzip -dc "$1" ;;
        *) die "module $1 is compressed in a way this script does not know" ;;
    esac
}

# Under emulation the kernel spends seconds inflating itself from its payload
# (xz on Debian 12, zstd on Debian 13). Unpacked once here, it boots straight
# through its PVH entry point (QEMU needs that ELF note to load it). Without
# either, vmlinuz stays the one.
unpack_kernel() {
    vmlinuz=$1 vmlinux=$2
    for format in 'xz \xfd7zXZ\x00' 'zstd \x28\xb5\x2f\xfd'; do
        tool=${format%% *} magic=${format#* }
        command -v "$tool" >/dev/null || continue
        start=$(LC_ALL=C grep -obUaP "$magic" "$vmlinuz" | head -n 1 | cut -d : -f 1)
        [ -n "$start" ] || continue
        tail -c +$((start + 1)) "$vmlinuz" | "$tool" -dcq > "$vmlinux" 2>/dev/null || true
        break
    done
    if ! readelf -n "$vmlinux" 2>/dev/null | grep -Eq 'PHYS32_ENTRY|type: \(0x00000012\)'; then
        rm -f "$vmlinux"
    fi
}

# The versioned package the meta-package points at, e.g. linux-image-6.1.0-57-amd64
# on Debian 12, linux-image-6.12.57+deb13-amd64 on Debian 13; without it, the
# newest plain flavour apt knows of (not -cloud or -rt, which lack the drivers).
kernel_name='linux-image-[0-9][^ ]*[0-9]-amd64'
kernel_package() {
    name=$(apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n "s/^ *Depends: \\($kernel_name\\)\$/\\1/p" | head -n 1)
    if [ -z "$name" ]; then
        name=$(apt-cache search --names-only "^$kernel_name\$" 2>/dev/null |
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
        # /lib/modules on Debian 12, /usr/lib/modules on Debian 13.
        modules=$work/root/usr/lib/modules
        [ -d "$modules" ] || modules=$work/root/lib/modules
        module_closure "$modules" i2c-piix4 at24 | awk '!seen[$0]++' |
            while read -r file; do
                module=$(basename "$file" | sed 's/\.ko\..*$/.ko/')
                module_content "$file" > "$entry/modules/$module"
                echo "$module" >> "$entry/modules/load"
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
fallback=$(ls -d "$cache"/linux-image-*-amd64 2>/dev/null | sort -V | while read -r d; do
    [ -f "$d/.complete" ] && echo "$d"; done | tail -n 1)
[ -n "$fallback" ] || die "no Debian linux-image-*-amd64 package could be found or downloaded (apt-get update? network?)"
echo "at24: using the cached $(basename "$fallback") instead" >&2
echo "$fallback"
