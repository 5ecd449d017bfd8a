// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.io.File;

/**
 * Loads the native library {@code libTrovJPOS.so} once per class loader. The library is looked up
 * on {@code java.library.path}, unless the system property {@value #PATH_PROPERTY} names an absolute
 * path, which is then loaded instead.
 *
 * <p>Each service class tries to load the library when it is initialised, without failing when it
 * cannot: the failure is reported by {@link TrovService#open()} as a {@link TrovException} with
 * {@link TrovConst#JPOS_E_NOSERVICE}, which an application can act on, rather than as an error
 * thrown by a constructor.
 */
final class NativeLibrary {

    /** System property that may name the absolute path of the library file. */
    static final String PATH_PROPERTY = "trov.jpos.library";

    /** Name of the library for {@link System#loadLibrary(String)}. */
    static final String NAME = "TrovJPOS";

    /** System property that opens the simulated keyboard's window (in trovsim.jar) as the services load. */
    static final String PANEL_PROPERTY = "trov.sim.panel";

    private static boolean loaded;

    static {
        openSimulatorPanelIfAsked();
    }

    private NativeLibrary() {
    }

    /**
     * Opens the window of the simulated keyboard when {@value #PANEL_PROPERTY} is true, looked up by name
     * so that the product does not depend on the simulator; without it, one line says so.
     */
    private static void openSimulatorPanelIfAsked() {
        if (!Boolean.getBoolean(PANEL_PROPERTY)) {
            return;
        }
        try {
            Class.forName("com.trov.jpos.sim.panel.SimPanel").getMethod("openForProperty").invoke(null);
        } catch (ClassNotFoundException e) {
            System.err.println(PANEL_PROPERTY + ": the simulated keyboard's panel is not opened: trovsim.jar is not"
                    + " on the class path");
        } catch (ReflectiveOperationException | LinkageError e) {
            System.err.println(PANEL_PROPERTY + ": the simulated keyboard's panel is not opened: " + e);
        }
    }

    /** Loads the library if it is not loaded yet; a failure is left for {@link #ensureLoaded()} to report. */
    static void tryLoad() {
        try {
            ensureLoaded();
        } catch (TrovException e) {
            // open() tries again and reports the failure to the application.
        }
    }

    /**
     * Loads the library if it is not loaded yet.
     *
     * @throws TrovException with {@link TrovConst#JPOS_E_NOSERVICE} when the library cannot be loaded
     */
    static synchronized void ensureLoaded() throws TrovException {
        if (loaded) {
            return;
        }
        String path = System.getProperty(PATH_PROPERTY);
        boolean explicit = path != null && new File(path).isAbsolute();
        try {
            if (explicit) {
                System.load(path);
            } else {
                System.loadLibrary(NAME);
            }
        } catch (UnsatisfiedLinkError | SecurityException e) {
            String what = explicit ? path : "lib" + NAME + ".so on java.library.path";
            throw new TrovException(TrovConst.JPOS_E_NOSERVICE,
                    "The native library " + what + " could not be loaded: " + e.getMessage(), e);
        }
        loaded = true;
    }
}
