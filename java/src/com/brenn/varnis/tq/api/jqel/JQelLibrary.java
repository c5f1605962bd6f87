package com.brenn.varnis.tq.api.jqel;

import java.io.File;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Loads the native library for the three classes, once per class loader.
 * By default it is searched by name, as {@code System.loadLibrary} does: in
 * the JVM's own folders ({@code sun.boot.library.path}), then in those of
 * {@code java.library.path}. The system property {@code jqel.library}, set to
 * the full path of the library file, loads that file instead.
 *
 * <p>The JVM binds a native library to one class loader at a time. In an
 * application server, a redeployed application's new class loader finds it
 * still bound to the old application's loader until that loader has been
 * garbage-collected; the JVM then unloads the library, from its cleaner
 * thread. So when the library is bound to another loader, this class runs
 * the garbage collector and tries again, for about a second in all, before
 * it gives up with the JVM's error and a word on the remedy.
 *
 * <p>Every {@code UnsatisfiedLinkError} that leaves this class keeps the
 * JVM's message as its first line and adds, on a second, the command line
 * of the loading doctor with this JVM and the {@code -D} options that name
 * the library. With the system property {@code jqel.debug=true}, each load
 * prints to standard error the places it tries, in order, the file that
 * loaded and this jar's version. All of this happens in the classes' static
 * initializers, once per class loader: no call of a native method is
 * slowed.
 */
final class JQelLibrary {
    /** System property naming the library file by its full path. */
    static final String PATH_PROPERTY = "jqel.library";

    /** System property that, set to {@code true}, prints what each load does. */
    static final String DEBUG_PROPERTY = "jqel.debug";

    /** The library's name, as {@code System.loadLibrary} takes it. */
    private static final String NAME = "JQelAgtMsg";

    /** What each line of the debug output begins with. */
    private static final String DEBUG = "jqel.debug: ";

    /** How long, in all, a load waits for another class loader to let the library go. */
    private static final long RETRY_MILLIS = 1000;

    /** How the JVM's message ends when another class loader holds the library. */
    private static final String HELD_BY_ANOTHER_LOADER = " already loaded in another classloader";

    /** Whether the library is loaded for this class loader; guarded by the class. */
    private static boolean loaded;

    private JQelLibrary() {}

    /**
     * Loads the library unless it is loaded for this class loader already.
     * Synchronized so that the three classes, initialized on several threads
     * at once, load and report it once.
     */
    static synchronized void load() {
        if (loaded) {
            return;
        }
        String path = System.getProperty(PATH_PROPERTY, "");
        boolean debug = Boolean.getBoolean(DEBUG_PROPERTY);
        if (debug) {
            System.err.println(DEBUG + "com.brenn.varnis.tq.api.jqel " + version() + ", from " + jar());
        }
        String file = debug ? reportPlaces(path) : null;
        try {
            loadOrRetry(path);
        } catch (UnsatisfiedLinkError e) {
            if (debug) {
                System.err.println(DEBUG + "the load failed: " + e.getMessage());
            }
            // The JVM's own error, or ours about another class loader, whose cause it is.
            throw withDoctor(e, e.getCause() != null ? e.getCause() : e);
        }
        loaded = true;
        if (debug) {
            System.err.println(DEBUG + "loaded " + (file != null ? file : "a library the JVM found elsewhere"));
        }
    }

    private static void loadOrRetry(String path) {
        long deadline = System.nanoTime() + RETRY_MILLIS * 1_000_000;
        for (long pause = 10; ; pause *= 2) {
            try {
                if (path.isEmpty()) {
                    System.loadLibrary(NAME);
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

    /**
     * The error {@code error} with a second line that gives the loading
     * doctor's command line: this JVM's {@code java}, with the options that
     * name the library as the program was given them. The first line stays
     * the message as it was, which the deployment guide quotes, and the
     * cause is the JVM's error.
     */
    private static UnsatisfiedLinkError withDoctor(UnsatisfiedLinkError error, Throwable jvmError) {
        boolean windows = File.separatorChar == '\\';
        StringBuilder command = new StringBuilder(quote(
                System.getProperty("java.home") + File.separator + "bin" + File.separator
                        + (windows ? "java.exe" : "java"), windows));
        for (String option : libraryOptions()) {
            command.append(' ').append(quote(option, windows));
        }
        command.append(" -jar jqel-doctor.jar");
        UnsatisfiedLinkError withDoctor = new UnsatisfiedLinkError(error.getMessage()
                + System.lineSeparator()
                + "To find out why, run the loading doctor from the release archive with the"
                + " program's PATH and current folder" + (windows ? " (in PowerShell, put & and a blank before it)" : "")
                + ": " + command);
        withDoctor.initCause(jvmError);
        return withDoctor;
    }

    /**
     * The {@code -D} options that the program was given for {@code
     * java.library.path} and {@code jqel.library}, the last of each, in the
     * order given; or, where the JVM does not say what it was given, those
     * properties' values.
     */
    private static List<String> libraryOptions() {
        String[] names = {"java.library.path", PATH_PROPERTY};
        Map<String, String> given = new LinkedHashMap<>();
        try {
            for (String argument : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
                for (String name : names) {
                    if (argument.startsWith("-D" + name + "=")) {
                        given.remove(name);
                        given.put(name, argument);
                    }
                }
            }
        } catch (RuntimeException | LinkageError e) {
            // A runtime without java.management, or one that forbids asking.
            for (String name : names) {
                String value = System.getProperty(name, "");
                if (!value.isEmpty()) {
                    given.put(name, "-D" + name + "=" + value);
                }
            }
        }
        return new ArrayList<>(given.values());
    }

    /**
     * {@code word} as a shell takes it as one word: on Windows in double
     * quotes if it is a {@code -D} option (which PowerShell would split at
     * its first dot) or holds a blank; elsewhere in single quotes if it holds
     * anything but letters, digits and {@code -_./=:,+@%}.
     */
    private static String quote(String word, boolean windows) {
        if (windows) {
            return word.startsWith("-D") || word.indexOf(' ') >= 0 ? '"' + word + '"' : word;
        }
        return word.matches("[A-Za-z0-9_./=:,+@%-]+") ? word : "'" + word.replace("'", "'\\''") + "'";
    }

    /**
     * Prints, after {@link #DEBUG}, each place the load tries, in order, up
     * to the first file that is there, which is the one the JVM takes.
     * Returns that file by its full path, as the JVM names it, or null if
     * none is there.
     */
    private static String reportPlaces(String path) {
        if (!path.isEmpty()) {
            System.err.println(DEBUG + "loading the file that " + PATH_PROPERTY + " names: " + path);
            return fullPath(new File(path));
        }
        String file = System.mapLibraryName(NAME);
        System.err.println(DEBUG + "looking for " + file
                + " in the JVM's own folders, then in those of java.library.path:");
        for (String property : new String[] {"sun.boot.library.path", "java.library.path"}) {
            for (String folder : folders(System.getProperty(property, ""))) {
                File candidate = new File(folder, file);
                boolean there = candidate.isFile();
                System.err.println(DEBUG + "  " + candidate + " (" + property + "): "
                        + (there ? "found" : "not there"));
                if (there) {
                    return fullPath(candidate);
                }
            }
        }
        return null;
    }

    /** The folders of a search path as this JVM reads it (LibraryPath). */
    private static List<String> folders(String searchPath) {
        boolean windows = File.separatorChar == '\\';
        int release = LibraryPath.release(System.getProperty("java.version", ""));
        List<String> folders = new ArrayList<>();
        for (String entry : LibraryPath.entries(searchPath, windows, release)) {
            folders.add(LibraryPath.folder(entry, windows, release));
        }
        return folders;
    }

    /** {@code file}, and where its links lead if that differs. */
    private static String fullPath(File file) {
        String full = file.getAbsolutePath();
        try {
            String canonical = file.getCanonicalPath();
            return canonical.equals(full) ? full : full + " -> " + canonical;
        } catch (IOException e) {
            return full;
        }
    }

    /** This package's version, from the jar's manifest. */
    private static String version() {
        Package p = JQelLibrary.class.getPackage();
        String version = p == null ? null : p.getImplementationVersion();
        return version == null ? "(no version: not loaded from the release's jar)" : version;
    }

    /** Where this class was loaded from. */
    private static Object jar() {
        try {
            return JQelLibrary.class.getProtectionDomain().getCodeSource().getLocation();
        } catch (RuntimeException e) {
            return "an unknown place";
        }
    }
}
