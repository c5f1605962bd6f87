package com.brenn.varnis.tq.api.jqel;

/**
 * Loads the native library for the three classes, once per class loader.
 * By default it is searched by name on {@code java.library.path}; the system
 * property {@code jqel.library}, set to the full path of the library file,
 * loads that file instead.
 */
final class JQelLibrary {
    /** System property naming the library file by its full path. */
    static final String PATH_PROPERTY = "jqel.library";

    private JQelLibrary() {}

    static void load() {
        String path = System.getProperty(PATH_PROPERTY, "");
        if (path.isEmpty()) {
            System.loadLibrary("JQelAgtMsg");
        } else {
            System.load(path);
        }
    }
}
