#!/bin/busybox sh
# The guest's init (scripts/test-uart.sh): the file systems, the modules of
# the adapter under test, the checks, and off. Whatever happens, it powers off.
/bin/busybox mkdir -p /proc /sys /dev /tmp /bin /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mount -t debugfs debug /sys/kernel/debug
export PATH=/velk/bin:/bin:/sbin:/usr/bin:/usr/sbin HOME=/tmp
adapter=$(sed -n 's/.*velk_adapter=\([a-z0-9]*\).*/\1/p' /proc/cmdline)
calibration=$(sed -n 's/.*velk_calibration=\([0-9.]*\).*/\1/p' /proc/cmdline)
if [ "$adapter" = ftdi ]; then
    for module in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio usbmon; do
        insmod /velk/modules/$module.ko
    done
fi
# The host talks to the guest on the console: no echo of its answers.
stty -echo 2>/dev/null
sh /velk/guest.sh "$adapter" "$calibration"
echo "@@done"
poweroff -f
