// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.concurrent.LinkedBlockingQueue;

/**
 * A POS keyboard service class with exactly the native methods and listener methods the library's
 * keyboard classes must declare, and nothing of ours: what a till's own class looks like. It records
 * the arguments of each keyboardDataEvent call.
 */
public final class TrovPOSKeyboardService {
    static {
        System.loadLibrary("TrovJPOS");
    }

    /** "code type" of each keyboardDataEvent call, in call order. */
    public final LinkedBlockingQueue<String> keys = new LinkedBlockingQueue<>();

    public native int OpenPOSKeyboard();

    public native void ClosePOSKeyboard();

    public native void enablePOSKeyboard(boolean enable);

    public native void claimPOSKeyboard(boolean claim);

    int keyboardStatusUpdateEvent(int status) {
        return 0;
    }

    int keyboardDirectIOEvent(int command, int data, byte[] obj) {
        return 0;
    }

    int keyboardDataEvent(int keyCode, int eventType) {
        keys.add(keyCode + " " + eventType);
        return 0;
    }
}
