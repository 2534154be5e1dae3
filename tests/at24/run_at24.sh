#!/bin/sh
# Boots Debian's kernel in an emulated PC with the at24 EEPROM driver, runs the
# guest test program against it, and checks the I2C traffic of each phase the
# guest announced against QEMU's bus trace.
# Usage: run_at24.sh GUEST_PROGRAM WORK_DIR SYSTEM_DIR HWINFO
#   SYSTEM_DIR: the library package's udev rule and sysusers.d entry
#   HWINFO: a static korvanta-hwinfo, which the guest programs the EEPROM with
set -eu
guest=$1 work=$2 system=$3 hwinfo=$4
here=$(cd "$(dirname "$0")" && pwd)

fail() { echo "at24: FAIL: $*" >&2; exit 1; }
# In CI a missing machine is a failure. On a developer's host without Debian's
# kernel packages (Ubuntu, say) the test is reported as skipped, never as passed.
unavailable() {
    [ -n "${CI:-}" ] && fail "$*"
    echo "at24: SKIPPED: $*" >&2
    exit 77
}

command -v qemu-system-x86_64 >/dev/null ||
    unavailable "qemu-system-x86_64 not found: install the Debian package qemu-system-x86"
kernel=$("$here/kernel_cache.sh") || unavailable "no Debian kernel package to boot (see above)"
mkdir -p "$work"
rm -f "$work/console.log" "$work/trace.log"
"$here/make_initramfs.sh" "$kernel" "$guest" "$work/initramfs.cpio" "$system" "$hwinfo" || fail "could not build the initramfs"

image=$kernel/vmlinuz
[ -f "$kernel/vmlinux" ] && image=$kernel/vmlinux
echo "at24: booting $(basename "$kernel") ($(basename "$image"))"
started=$(date +%s%N)
# pc, not q35: q35's SMBus controller corrupts block reads. The guest leaves
# through isa-debug-exit, which makes QEMU exit with 1 (passed) or 3 (failed).
status=0
timeout 300 qemu-system-x86_64 -accel tcg -M pc -m 256 -smp 1 \
    -nodefaults -no-reboot -display none \
    -serial "file:$work/console.log" \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
    -kernel "$image" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 panic=-1 quiet" \
    -trace enable=i2c_event -trace enable=i2c_send -trace enable=i2c_recv -D "$work/trace.log" ||
    status=$?
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
tr -d '\r' < "$work/console.log" > "$work/console.txt"
cat "$work/console.txt"
echo "at24: the machine ran for $elapsed_ms ms"

guest_failed=
case $status in
    1) ;;
    3) guest_failed=1 ;;  # the traffic below still says more about why
    124) fail "the guest did not finish within 300 s" ;;
    *) fail "QEMU ended with status $status before the guest reported (kernel panic or QEMU error)" ;;
esac

# Data bytes at 0x50 per phase. A phase starts with the marker read at 0x51
# whose offset is its number. The first byte sent after a start condition is
# the EEPROM offset, not data; every further byte sent is written data.
awk '
    function hex(text,   i, n) {
        n = 0
        for (i = 1; i <= length(text); i++) n = n * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
        return n
    }
    function field(line, key,   at) {
        at = index(line, key ":0x")
        return at ? substr(line, at + length(key) + 3, 2) : ""
    }
    FNR == NR {
        address = field($0, "addr")
        if ($1 == "i2c_event" && $2 ~ /^start\(/) { offset_next[address] = 1; if (address == "50") transfers[phase]++ }
        else if ($1 == "i2c_send" && offset_next[address]) {
            offset_next[address] = 0
            if (address == "51") phase = hex(field($0, "data"))
        }
        else if ($1 == "i2c_send" && address == "50") written[phase]++
        else if ($1 == "i2c_recv" && address == "50") read[phase]++
        next
    }
    $1 == "at24-phase" {
        n = $2; label = $3; r = read[n] + 0; w = written[n] + 0; t = transfers[n] + 0
        if (label == "idle") next
        printf "at24: phase %-26s %3d bytes read, %3d bytes written, %3d transfers\n", label, r, w, t
        if (($4 >= 0 && r != $4) || ($5 >= 0 && w != $5)) {
            printf "at24: FAIL: phase %s should read %d and write %d bytes\n", label, $4, $5
            bad++
        }
        # Seven field reads of exactly their bytes, whatever the guest announced.
        if (label ~ /^construct-/ && ($4 != 70 || $5 != 0)) {
            printf "at24: FAIL: phase %s must be checked against 70 bytes read, none written\n", label
            bad++
        }
        if (label ~ /^construct-/) { constructions++; construction_bytes = r }
        if (label == "program") printf "at24-figure bytes per programming of a blank EEPROM: %d written, %d read\n", w, r
        if (label ~ /^write-(uuid|status)$/) printf "at24-figure bytes per %s: %d written, %d read back\n", label, w, r
    }
    END {
        if (!constructions) { print "at24: FAIL: the guest announced no construction"; exit 1 }
        printf "at24-figure bytes per construction: %d read, over %d constructions\n", construction_bytes, constructions
        exit bad ? 1 : 0
    }
' "$work/trace.log" "$work/console.txt" > "$work/traffic.txt" || traffic_differs=1
cat "$work/traffic.txt"
grep '^at24-figure' "$work/traffic.txt" > "$work/figures.txt" || true
[ -z "${traffic_differs:-}" ] || fail "the bus traffic differs from what the guest announced"
[ -z "$guest_failed" ] || fail "scenarios failed in the guest (see above)"
echo "at24: passed"
