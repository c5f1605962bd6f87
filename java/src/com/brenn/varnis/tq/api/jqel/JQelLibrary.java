package com.brenn.varnis.tq.api.jqel;

/**
 * Loads the native library for the three classes, once per class loader.
 * By default it is searched by name on {@code java.library.path}; the system
 * property {@code jqel.library}, set to the full path of the library file,
 * loads that file instead.
 *
 * <p>The JVM binds a native library to one class loader at a time. In an
 * application server, a redeployed application's new class loader finds it
 * still bound to the old application's loader until that loader has been
 * garbage-collected; the JVM then unloads the library, from its cleaner
 * thread. So when the library is bound to another loader, this class runs
 * the garbage collector and tries again, for about a second in all, before
 * it gives up with the JVM's error and a word on the remedy.
 */
final class JQelLibrary {
    /** System property naming the library file by its full path. */
    static final String PATH_PROPERTY = "jqel.library";

    /** How long, in all, a load waits for another class loader to let the library go. */
    private static final long RETRY_MILLIS = 1000;

    /** How the JVM's message ends when another class loader holds the library. */
    private static final String HELD_BY_ANOTHER_LOADER = " already loaded in another classloader";

    private JQelLibrary() {}

    static void load() {
        String path = System.getProperty(PATH_PROPERTY, "");
        long deadline = System.nanoTime() + RETRY_MILLIS * 1_000_000;
        for (long pause = 10; ; pause *= 2) {
            try {
                if (path.isEmpty()) {
                    System.loadLibrary("JQelAgtMsg");
                } else {
                    System.load(path);
                }
                return;
            } catch (UnsatisfiedLinkError e) {
                String message = e.getMessage();
                if (message == null || !message.endsWith(HELD_BY_ANOTHER_LOADER)) {
                    throw e;
                }
                long left = (deadline - System.nanoTime()) / 1_000_000;
                if (left <= 0 || !collectGarbageAndWait(Math.min(pause, left))) {
                    throw heldByAnotherLoader(e);
                }
            }
        }
    }

    /**
     * Runs the garbage collector, so that a class loader that nothing
     * references any more is collected, and gives the JVM's cleaner thread
     * {@code millis} to unload its libraries. Returns false if interrupted,
     * with the thread's interrupt status set again.
     */
    private static boolean collectGarbageAndWait(long millis) {
        System.gc();
        try {
            Thread.sleep(millis);
            return true;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        }
    }

    private static UnsatisfiedLinkError heldByAnotherLoader(UnsatisfiedLinkError jvmError) {
        UnsatisfiedLinkError error = new UnsatisfiedLinkError(jvmError.getMessage()
                + ". It is held by another copy of the com.brenn.varnis.tq.api.jqel classes,"
                + " in another application or in an undeployed one not yet garbage-collected:"
                + " put their jar in one class loader shared by every application"
                + " (see \"Application servers\" in DEPLOYMENT.md).");
        error.initCause(jvmError);
        return error;
    }
}
