// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.soak;

import com.trov.jpos.TrovException;
import com.trov.jpos.TrovInputService;

/** The input model as the tools use it: every data event is followed by a request for the next. */
final class Rearm {

    private Rearm() {
    }

    /** Sets DataEventEnabled again; does nothing when the object was closed meanwhile. */
    static void of(TrovInputService service) {
        try {
            service.setDataEventEnabled(true);
        } catch (TrovException e) {
            // Closed meanwhile: nothing more to hear.
        }
    }
}
