#!/bin/busybox sh
# /init of the at24 test guest: loads the SMBus and EEPROM drivers, puts the
# driver's own eeprom attribute where the library looks for it, runs the test
# program and hands its result to the host through isa-debug-exit.
/bin/busybox --install -s /bin
export PATH=/bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

# Exit status 0 or 1 leaves QEMU with 1 or 3 (the device writes (v << 1) | 1).
leave() {
    printf "\\$(printf '%03o' "$1")" | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
    poweroff -f
}

for module in $(cat /modules/load); do
    insmod "/modules/$module" || { echo "at24: insmod $module failed"; leave 1; }
done

adapter=
for name in /sys/bus/i2c/devices/i2c-*/name; do
    case $(cat "$name") in *PIIX4*) adapter=${name%/name}; break ;; esac
done
[ -n "$adapter" ] || { echo "at24: no PIIX4 SMBus adapter"; leave 1; }
bus=${adapter##*/i2c-}

# 0x50 carries the identity; 0x51 is read only to mark phases in the bus trace.
echo 24c02 0x50 > "$adapter/new_device"
echo 24c02 0x51 > "$adapter/new_device"
eeprom=$(realpath "/sys/bus/i2c/devices/$bus-0050/eeprom")
marker=$(realpath "/sys/bus/i2c/devices/$bus-0051/eeprom")
[ -f "$eeprom" ] && [ -f "$marker" ] || { echo "at24: the at24 driver did not bind"; leave 1; }

# A robot's udev, as far as the identity EEPROM goes: the korvanta group from
# the library package's sysusers.d entry, and what its udev rule does when the
# driver binds. The rule matches the device as the library names it, bus 5.
awk '$1 == "g" { print $2 ":x:" ($3 == "-" ? 990 : $3) ":" }' /korvanta-hardware.sysusers > /etc/group
[ "$(stat -c %a "$eeprom")" = 600 ] || { echo "at24: the driver's eeprom is not mode 0600"; leave 1; }
device=$(dirname "$eeprom")
/apply-udev-rule /60-korvanta-eeprom.rules bind "${device#/sys}" 5-0050 || { echo "at24: the udev rule failed"; leave 1; }
export AT24_KORVANTA_GID="$(awk -F: '$1 == "korvanta" { print $3 }' /etc/group)"

# The library knows the EEPROM as bus 5; the file behind the name stays the kernel's.
mount -t tmpfs tmpfs /sys/bus/i2c/devices
mkdir /sys/bus/i2c/devices/5-0050
touch /sys/bus/i2c/devices/5-0050/eeprom
mount --bind "$eeprom" /sys/bus/i2c/devices/5-0050/eeprom

echo "at24: the guest starts at $(cut -d ' ' -f 1 /proc/uptime) s of uptime"
AT24_MARKER=$marker /at24-guest
result=$?
echo "at24: the guest ends at $(cut -d ' ' -f 1 /proc/uptime) s of uptime"
leave $((result != 0))
