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

    private static boolean loaded;

    private NativeLibrary() {
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
