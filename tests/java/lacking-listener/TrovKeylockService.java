// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * A keylock service class with the native methods of the real one but without the listener method
 * keylockDirectIOEvent, which the library looks up at open although it never calls it.
 */
public final class TrovKeylockService {
    static {
        System.loadLibrary("TrovJPOS");
    }

    public native int OpenKeylock();

    public native void CloseKeylock();

    int keylockStatusUpdateEvent(int position) {
        return position;
    }
}
