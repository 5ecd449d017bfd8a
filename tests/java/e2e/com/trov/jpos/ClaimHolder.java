// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import com.trov.jpos.sim.SimKeyboard;

/** A child JVM that claims the MSR, holds the claim for the milliseconds of its argument and releases it. */
public final class ClaimHolder {
    private ClaimHolder() {
    }

    public static void main(String[] args) throws Exception {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(0);
        try (TrovMSRService msr = new TrovMSRService()) {
            msr.open();
            msr.claim(0);
            System.out.println("claimed");
            Thread.sleep(Long.parseLong(args[0]));
            msr.release();
            System.out.println("released");
        }
    }
}
