#!/bin/sh
# Which kernel package the at24 test boots: the versioned one that Debian's
# linux-image-amd64 names (Debian 12 and 13 alike), else the newest plain
# flavour apt knows, else none, which the test reports as a skip; and what it
# keeps of a package laid out as Debian 13's. apt-cache and apt-get are
# stand-ins that answer from each row; nothing is downloaded.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/bin"
cat > "$scratch/bin/apt-cache" <<'END'
#!/bin/sh
case $1 in
    depends) [ -z "$DEPENDS" ] || printf 'linux-image-amd64\n  Depends: %s\n' "$DEPENDS" ;;
    search) printf '%s\n' $KNOWN | grep -E "$3" | sed 's/$/ - Linux for 64-bit PCs/' ;;
esac
END
cat > "$scratch/bin/apt-get" <<'END'
#!/bin/sh
[ -n "${KERNEL_DEB:-}" ] && cp "$KERNEL_DEB" "$2_1_amd64.deb"
END
chmod +x "$scratch/bin/apt-cache" "$scratch/bin/apt-get"

failures=0
# check DEPENDS KNOWN EXPECTED: EXPECTED is the package it tries to download, or "none".
check() {
    got=$(DEPENDS=$1 KNOWN=$2 PATH=$scratch/bin:$PATH KORVANTA_AT24_CACHE=$scratch/cache \
        "$here/kernel_cache.sh" 2>&1 >/dev/null | sed -n 's/^at24: could not download //p')
    [ "${got:-none}" = "$3" ] || { echo "FAIL: depends '$1', known '$2': chose '${got:-none}', not $3"; failures=$((failures + 1)); }
}
check linux-image-6.1.0-57-amd64 "" linux-image-6.1.0-57-amd64
check linux-image-6.12.121+deb13-amd64 "" linux-image-6.12.121+deb13-amd64
check "" "linux-image-6.1.0-9-amd64 linux-image-6.1.0-57-amd64 linux-image-6.1.0-57-cloud-amd64
    linux-image-6.1.0-57-rt-amd64 linux-image-6.1.0-57-amd64-dbg linux-image-6.1.0-57-amd64-unsigned" \
    linux-image-6.1.0-57-amd64
check "" "linux-image-6.12.121+deb13-cloud-amd64 linux-image-6.12.121+deb13-amd64-unsigned" none

# Debian 13's layout: modules xz-compressed under /usr/lib, the SMBus driver
# needing another module, which must load first.
package=$scratch/package
modules=$package/usr/lib/modules/6.12.1+deb13-amd64/kernel/drivers
mkdir -p "$package/DEBIAN" "$package/boot" "$modules/i2c/busses" "$modules/misc/eeprom"
printf 'Package: linux-image-6.12.1+deb13-amd64\nVersion: 1\nArchitecture: amd64\nMaintainer: t <t@t>\nDescription: t\n' \
    > "$package/DEBIAN/control"
echo kernel > "$package/boot/vmlinuz-6.12.1+deb13-amd64"
printf 'alias=x\0depends=i2c-smbus\0' | xz > "$modules/i2c/busses/i2c-piix4.ko.xz"
printf 'depends=\0' | xz > "$modules/i2c/i2c-smbus.ko.xz"
printf 'depends=\0' | xz > "$modules/misc/eeprom/at24.ko.xz"
dpkg-deb -b -Zgzip "$package" "$scratch/kernel.deb" >/dev/null
entry=$(DEPENDS=linux-image-6.12.1+deb13-amd64 KERNEL_DEB=$scratch/kernel.deb PATH=$scratch/bin:$PATH \
    KORVANTA_AT24_CACHE=$scratch/cache "$here/kernel_cache.sh")
load=$(tr '\n' ' ' < "$entry/modules/load")
[ "$load" = "i2c-smbus.ko i2c-piix4.ko at24.ko " ] || { echo "FAIL: modules load as '$load'"; failures=$((failures + 1)); }
grep -q 'depends=i2c-smbus' "$entry/modules/i2c-piix4.ko" || { echo "FAIL: i2c-piix4.ko is not uncompressed"; failures=$((failures + 1)); }

[ "$failures" = 0 ] || exit 1
echo "kernel choice OK"
