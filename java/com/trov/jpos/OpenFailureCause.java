// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * What the Java side can see of why the library found no usable keyboard: the HID device nodes the
 * library searches and whether this process may read and write them. The library itself reports only
 * that the open failed.
 */
final class OpenFailureCause {

    /** The nodes the library searches, in its order. */
    private static final int NODES = 16;

    private OpenFailureCause() {
    }

    /** One line, e.g. "hiddev nodes: /dev/usb/hid/hiddev0 (not readable and writable by this process)". */
    static String describe() {
        List<String> nodes = new ArrayList<>();
        for (int i = 0; i < NODES; ++i) {
            Path node = Path.of("/dev/usb/hid/hiddev" + i);
            if (Files.exists(node)) {
                boolean usable = Files.isReadable(node) && Files.isWritable(node);
                nodes.add(node + (usable ? " (readable and writable)" : " (not readable and writable by this process)"));
            }
        }
        return "hiddev nodes: " + (nodes.isEmpty() ? "none" : String.join(", ", nodes));
    }
}
