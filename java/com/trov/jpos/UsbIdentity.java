// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Optional;
import java.util.regex.Pattern;

/**
 * The keyboard's USB identity, read in Java from sysfs for {@code getPhysicalDeviceName},
 * {@code getPhysicalDeviceDescription} and the statistics' equipment facts; the library has no entry
 * point that reports it.
 *
 * <p>Which keyboard: the hiddev node the library holds open in this process, found among the links of
 * {@code /proc/self/fd} by its kernel name {@code hiddevN} (udev's link {@code /dev/usb/hid/hiddevN},
 * which the library opens, resolves to the node of that name). From there, Linux's sysfs layout:
 * {@code /sys/class/usbmisc/hiddevN/device} links to the USB interface, and that interface's parent
 * directory is the USB device, with the files {@code idVendor}, {@code idProduct}, {@code bcdDevice}
 * (hexadecimal) and, where the device has those strings, {@code manufacturer}, {@code product} and
 * {@code serial}. Kernel 6.1 of the real-driver tier; checked there by the driver fact
 * SysfsShowsTheUsbIdentityBehindTheOpenNode and, through this class, by LibraryStateTest.
 *
 * <p>Under the simulated driver the node is no real file and nothing is found; the services then use
 * {@link #UNKNOWN_NAME} and {@link #UNKNOWN_DESCRIPTION}.
 *
 * @param node         the node's kernel name, for example "hiddev0"
 * @param vendorId     the USB vendor id
 * @param productId    the USB product id
 * @param version      the device release from {@code bcdDevice}, as "major.minor", for example "1.00"
 * @param manufacturer the manufacturer string; empty when the device has none
 * @param product      the product string; empty when the device has none
 * @param serialNumber the serial number string; empty when the device has none
 */
record UsbIdentity(String node, int vendorId, int productId, String version, String manufacturer, String product,
        String serialNumber) {

    /** The physical device name while the USB identity is not known. */
    static final String UNKNOWN_NAME = "Trov POS keyboard";

    /** The physical device description while the USB identity is not known. */
    static final String UNKNOWN_DESCRIPTION = "USB POS keyboard with keylock, MSR and tone indicator"
            + " (USB identity not readable)";

    private static final Pattern NODE = Pattern.compile("hiddev[0-9]+");

    /** The identity of the keyboard this process holds open, or empty when it cannot be read. */
    static Optional<UsbIdentity> ofOpenKeyboard() {
        return ofOpenKeyboard(Path.of("/proc/self"), Path.of("/sys"));
    }

    /** As {@link #ofOpenKeyboard()}, with other roots for {@code /proc/self} and {@code /sys}; for tests. */
    static Optional<UsbIdentity> ofOpenKeyboard(Path proc, Path sys) {
        Optional<String> node = openNode(proc);
        return node.isPresent() ? ofNode(sys, node.get()) : Optional.empty();
    }

    /** The kernel name of the first hiddev node among the process's open descriptors. */
    static Optional<String> openNode(Path proc) {
        try (DirectoryStream<Path> fds = Files.newDirectoryStream(proc.resolve("fd"))) {
            for (Path fd : fds) {
                try {
                    Path name = Files.readSymbolicLink(fd).getFileName();
                    if (name != null && NODE.matcher(name.toString()).matches()) {
                        return Optional.of(name.toString());
                    }
                } catch (IOException | UnsupportedOperationException e) {
                    // Closed since the listing, or not a link.
                }
            }
        } catch (IOException e) {
            return Optional.empty();
        }
        return Optional.empty();
    }

    /** The identity of the USB device behind the hiddev node {@code node}, or empty when unreadable. */
    static Optional<UsbIdentity> ofNode(Path sys, String node) {
        try {
            Path usbDevice = sys.resolve("class/usbmisc").resolve(node).resolve("device").toRealPath().getParent();
            if (usbDevice == null) {
                return Optional.empty();
            }
            return Optional.of(new UsbIdentity(node, Integer.parseInt(read(usbDevice, "idVendor"), 16),
                    Integer.parseInt(read(usbDevice, "idProduct"), 16), bcd(read(usbDevice, "bcdDevice")),
                    optional(usbDevice, "manufacturer"), optional(usbDevice, "product"),
                    optional(usbDevice, "serial")));
        } catch (IOException | NumberFormatException e) {
            return Optional.empty();
        }
    }

    /** For {@code getPhysicalDeviceName}: manufacturer and product, for example "Trov POS keyboard". */
    String physicalDeviceName() {
        String name = (manufacturer + " " + product).trim();
        return name.isEmpty() ? String.format("USB device %04x:%04x", vendorId, productId) : name;
    }

    /**
     * For {@code getPhysicalDeviceDescription}: the name with ids, release, serial number and node, for
     * example "Trov POS keyboard, USB 1d6b:0104 release 1.00, serial 42, at hiddev0".
     */
    String physicalDeviceDescription() {
        return physicalDeviceName() + String.format(", USB %04x:%04x release %s", vendorId, productId, version)
                + (serialNumber.isEmpty() ? "" : ", serial " + serialNumber) + ", at " + node;
    }

    /** The equipment facts of the statistics document. */
    DeviceStatistics.Equipment equipment() {
        return new DeviceStatistics.Equipment(manufacturer, product, serialNumber, version, "USB", "");
    }

    private static String read(Path directory, String file) throws IOException {
        return new String(Files.readAllBytes(directory.resolve(file)), StandardCharsets.UTF_8).trim();
    }

    private static String optional(Path directory, String file) {
        try {
            return read(directory, file);
        } catch (IOException e) {
            return "";
        }
    }

    /** "0100" as "1.00": the binary-coded decimal release as major and minor. */
    private static String bcd(String hex) {
        int value = Integer.parseInt(hex, 16);
        return Integer.toHexString(value >> 8) + "." + String.format("%02x", value & 0xFF);
    }
}
