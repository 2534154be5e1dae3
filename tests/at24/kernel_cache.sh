#!/bin/sh
# Fetches Debian's own 6.1 kernel into a cache kept between runs and prints
# the directory it was unpacked into (holding boot/vmlinuz-* and lib/modules/*).
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
    if (cd "$work" && apt-get download "$package" >&2) && dpkg -x "$work"/"$package"_*.deb "$work/root"; then
        # Keep the kernel and its module tree; the .deb itself is not needed again.
        rm -rf "$cache/$package"
        mv "$work/root" "$cache/$package"
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
