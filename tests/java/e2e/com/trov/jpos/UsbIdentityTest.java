// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Optional;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The keyboard's USB identity, from a /proc and a /sys laid out as Linux lays them out. */
class UsbIdentityTest {

    @Test
    void readsTheIdentityBehindTheOpenNode(@TempDir Path root) throws Exception {
        Path proc = root.resolve("proc");
        Path fd = Files.createDirectories(proc.resolve("fd"));
        Files.createSymbolicLink(fd.resolve("3"), Path.of("/dev/null"));
        Path device = Files.createDirectories(root.resolve("sys/devices/pci0/usb1/1-1"));
        Files.createDirectories(device.resolve("1-1:1.0/usbmisc/hiddev3"));
        Path usbmisc = Files.createDirectories(root.resolve("sys/class/usbmisc/hiddev3"));
        Files.createSymbolicLink(usbmisc.resolve("device"), Path.of("../../../devices/pci0/usb1/1-1/1-1:1.0"));
        Files.writeString(device.resolve("idVendor"), "1d6b\n");
        Files.writeString(device.resolve("idProduct"), "0104\n");
        Files.writeString(device.resolve("bcdDevice"), "0210\n");

        assertEquals(Optional.empty(), UsbIdentity.ofOpenKeyboard(proc, root.resolve("sys")), "no hiddev node open");
        Files.createSymbolicLink(fd.resolve("5"), Path.of("/dev/usb/hiddev3"));
        UsbIdentity bare = UsbIdentity.ofOpenKeyboard(proc, root.resolve("sys")).orElseThrow();
        assertEquals("USB device 1d6b:0104", bare.physicalDeviceName());
        assertEquals("USB device 1d6b:0104, USB 1d6b:0104 release 2.10, at hiddev3", bare.physicalDeviceDescription());

        Files.writeString(device.resolve("manufacturer"), "Trov\n");
        Files.writeString(device.resolve("product"), "POS keyboard\n");
        Files.writeString(device.resolve("serial"), "HIL0001\n");
        UsbIdentity full = UsbIdentity.ofNode(root.resolve("sys"), "hiddev3").orElseThrow();
        assertEquals("Trov POS keyboard, USB 1d6b:0104 release 2.10, serial HIL0001, at hiddev3",
                full.physicalDeviceDescription());
        assertEquals(new DeviceStatistics.Equipment("Trov", "POS keyboard", "HIL0001", "2.10", "USB", ""),
                full.equipment());
        assertEquals(Optional.empty(), UsbIdentity.ofNode(root.resolve("sys"), "hiddev4"));
    }
}
