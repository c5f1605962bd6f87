package com.brenn.varnis.tq.api.jqel;

import java.io.File;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.net.URISyntaxException;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The native library {@code JQelAgtMsg}, as the classes of this package load
 * it: whether it is available, why not, and which versions meet.
 *
 * <p><b>Where it is looked for.</b> The first use of {@link JQelAgent},
 * {@link JQelAgentMessage}, {@link JQelMessage} or {@link JQelMonValue}, or
 * of {@link #isAvailable()}, loads the library, once per class loader, in the
 * first of these ways that applies:
 * <ol>
 * <li>The system property {@value #LIBRARY_PROPERTY}, if set, names the
 *     library file by its full path, and that file is loaded; it must be a
 *     regular file.
 * <li>Otherwise the library is looked for by name, as {@code
 *     System.loadLibrary} does: in the JVM's own folders ({@code
 *     sun.boot.library.path}), then in those of {@code java.library.path}.
 * <li>If none of those folders holds it, a jar on the class path that carries
 *     it for this platform (the Maven artifact {@code jqel-native} with the
 *     classifier {@code windows-x86} or {@code linux-x86_64}) supplies it: its
 *     copy goes into a folder named by its version and checksum, below the
 *     folder that the system property {@value #NATIVE_DIR_PROPERTY} names
 *     (by default {@code jqel-<user>} in {@code java.io.tmpdir}), and is loaded
 *     from there. A good copy that another JVM made is used as it is. The copy
 *     is loaded only from a folder that no other user can write.
 * </ol>
 * The library needs the agent product's own libraries, which the system's
 * loader finds wherever ours lies: on Windows through {@code PATH}, on Linux
 * through {@code LD_LIBRARY_PATH} (or beside ours, in a folder of the first
 * two ways).
 *
 * <p><b>When it fails.</b> The error is an {@link UnsatisfiedLinkError}
 * whose first line is the JVM's message, or this class's for a {@value
 * #LIBRARY_PROPERTY} that names no regular file, and whose second line gives
 * the command line of the loading doctor, {@code jqel-doctor.jar}, which
 * says why. The outcome of the first attempt holds for the life of the class
 * loader, as it does for the classes: later uses of the three classes throw
 * {@link NoClassDefFoundError}, and every construction of {@link JQelAgent}
 * throws the same {@code UnsatisfiedLinkError} again.
 *
 * <p><b>Versions.</b> {@link #version()} is this jar's, {@link
 * #libraryVersion()} the one that the loaded file records (the DLL's {@code
 * FileVersion}, or the Linux library's {@code @(#)} string). When both are
 * known and differ, the load prints one warning line on standard error that
 * names both and the file: a library and classes from two releases still
 * work together, but are not the pair that was tested.
 *
 * <p><b>Seeing what a load does.</b> With the system property {@value
 * #DEBUG_PROPERTY}{@code =true}, the load prints to standard error this
 * jar's version, each place it tries, in order, the file it takes (and, from
 * a jar, where its copy is), and that file's version.
 *
 * <p><b>Application servers.</b> The JVM binds a native library to one class
 * loader at a time. A redeployed application's new class loader finds it
 * still bound to the old application's loader until that loader has been
 * garbage-collected; the JVM then unloads the library, from its cleaner
 * thread. So when the library is bound to another loader, the load runs the
 * garbage collector and tries again, for about a second in all, before it
 * gives up with the JVM's error and a word on the remedy.
 *
 * <p>All of this happens once per class loader: no call of a native method
 * is slowed.
 */
public final class JQelLibrary {
    /** System property naming the library file by its full path: {@value}. */
    public static final String LIBRARY_PROPERTY = "jqel.library";

    /** System property that, set to {@code true}, prints what the load does: {@value}. */
    public static final String DEBUG_PROPERTY = "jqel.debug";

    /** System property naming the folder into which a library carried in a jar is copied: {@value}. */
    public static final String NATIVE_DIR_PROPERTY = CarriedLibrary.DIR_PROPERTY;

    /** The library's name, as {@code System.loadLibrary} takes it. */
    private static final String NAME = "JQelAgtMsg";

    /** What each line of the debug output begins with. */
    private static final String DEBUG = "jqel.debug: ";

    /** How long, in all, a load waits for another class loader to let the library go. */
    private static final long RETRY_MILLIS = 1000;

    /** How the JVM's message ends when another class loader holds the library. */
    private static final String HELD_BY_ANOTHER_LOADER = " already loaded in another classloader";

    // The outcome of the one attempt, all guarded by the class.
    private static boolean tried;
    private static UnsatisfiedLinkError failure;
    private static File file;
    private static String fileVersion;

    private JQelLibrary() {}

    /**
     * Whether the library is loaded, loading it first if no class of this
     * package has tried yet. Never throws.
     *
     * @return true if the library is loaded for this class loader
     */
    public static synchronized boolean isAvailable() {
        try {
            load();
            return true;
        } catch (UnsatisfiedLinkError e) {
            return false;
        }
    }

    /**
     * Why the library is not available, loading it first if no class of this
     * package has tried yet. Never throws.
     *
     * @return the error that the load failed with, or null if the library is
     *     loaded
     */
    public static synchronized Throwable unavailabilityCause() {
        return isAvailable() ? null : failure;
    }

    /**
     * The version of these classes, from the manifest of {@code
     * jqel-api.jar}.
     *
     * @return the version, or null if the classes were not loaded from the
     *     release's jar
     */
    public static String version() {
        Package p = JQelLibrary.class.getPackage();
        return p == null ? null : p.getImplementationVersion();
    }

    /**
     * The version that the loaded library file records. Does not load it.
     *
     * @return the version, or null if the library is not loaded, its file is
     *     not known (the JVM found it where this class did not look), or the
     *     file records none
     */
    public static synchronized String libraryVersion() {
        return fileVersion;
    }

    /**
     * The library file that was loaded. Does not load it.
     *
     * @return the file, or null if the library is not loaded or the JVM found
     *     it where this class did not look
     */
    public static synchronized File libraryFile() {
        return file;
    }

    /**
     * Loads the library unless this class loader has tried already; throws
     * the error of a load that failed, then and on every later call.
     * Synchronized so that the classes, initialized on several threads at
     * once, load and report it once.
     */
    static synchronized void load() {
        if (!tried) {
            tried = true;
            try {
                loadOnce();
            } catch (UnsatisfiedLinkError e) {
                failure = e;
                throw e;
            } catch (RuntimeException e) {
                // A security manager that forbids a step, say: the library is not loaded all the same.
                failure = new UnsatisfiedLinkError("the library cannot be loaded: " + e);
                failure.initCause(e);
                throw failure;
            }
        }
        if (failure != null) {
            UnsatisfiedLinkError again = new UnsatisfiedLinkError(failure.getMessage());
            again.initCause(failure.getCause());
            throw again;
        }
    }

    private static void loadOnce() {
        boolean debug = Boolean.getBoolean(DEBUG_PROPERTY);
        String jarVersion = version();
        if (debug) {
            debug("com.brenn.varnis.tq.api.jqel " + (jarVersion != null ? jarVersion
                    : "(no version: not loaded from the release's jar)") + ", from " + jar());
        }
        File loaded;
        try {
            String path = System.getProperty(LIBRARY_PROPERTY, "");
            loaded = path.isEmpty() ? loadByName(debug) : loadFile(path, debug);
        } catch (UnsatisfiedLinkError e) {
            if (debug) {
                debug("the load failed: " + e.getMessage());
            }
            // The JVM's own error, or ours about another class loader, whose cause it is.
            throw withDoctor(e, e.getCause() != null ? e.getCause() : e);
        }
        file = loaded;
        fileVersion = loaded == null ? null : LibraryFile.version(loaded);
        if (debug) {
            debug("loaded " + (loaded != null ? fullPath(loaded) : "a library the JVM found elsewhere"));
            if (loaded != null) {
                debug("its version: " + (fileVersion != null ? fileVersion : "none recorded in the file"));
            }
        }
        if (jarVersion != null && fileVersion != null && !jarVersion.equals(fileVersion)) {
            System.err.println("jqel: warning: " + loaded.getAbsolutePath() + " is version " + fileVersion
                    + " of JQelAgtMsg, but jqel-api.jar is version " + jarVersion
                    + ": take both from one release");
        }
    }

    /** Loads the file that jqel.library names; returns it. */
    private static File loadFile(String path, boolean debug) {
        if (debug) {
            debug("loading the file that " + LIBRARY_PROPERTY + " names: " + path);
        }
        File named = new File(path);
        if (!named.isFile()) {
            throw new UnsatisfiedLinkError(LIBRARY_PROPERTY + " names " + path + ", which "
                    + (named.isDirectory() ? "is a folder, not the library file"
                            : named.exists() ? "is not a regular file" : "does not exist"));
        }
        loadOrRetry(path);
        return named;
    }

    /**
     * Loads the library by name, or, if the JVM finds none, the copy of one
     * that a jar on the class path carries. Returns the file loaded, where
     * known.
     */
    private static File loadByName(boolean debug) {
        String name = System.mapLibraryName(NAME);
        File found = search(name, debug);
        try {
            loadOrRetry("");
            return found;
        } catch (UnsatisfiedLinkError e) {
            String message = e.getMessage();
            if (found != null || message == null || !message.startsWith("no " + NAME + " in ")) {
                throw e;
            }
            CarriedLibrary carried = CarriedLibrary.extract(JQelLibrary.class.getClassLoader(), name);
            if (carried == null) {
                if (debug) {
                    String platform = CarriedLibrary.platform();
                    debug("no jar on the class path carries it for " + (platform != null ? platform : "this platform"));
                }
                throw e;
            }
            if (debug) {
                debug("taking the library that " + carried.source + " carries: "
                        + (carried.written ? "copied to " : "its copy, already in ") + carried.file);
            }
            loadOrRetry(carried.file.getPath());
            return carried.file;
        }
    }

    private static void debug(String line) {
        System.err.println(DEBUG + line);
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
     * name the library as the program was given them, and the doctor beside
     * this jar, where it lies there. The environment variable named is the
     * one the system's loader searches: PATH on Windows, LD_LIBRARY_PATH
     * elsewhere. The first line stays the message as it was, which the
     * deployment guide quotes, and the cause is the JVM's error.
     */
    private static UnsatisfiedLinkError withDoctor(UnsatisfiedLinkError error, Throwable jvmError) {
        boolean windows = File.separatorChar == '\\';
        StringBuilder command = new StringBuilder(quote(
                System.getProperty("java.home") + File.separator + "bin" + File.separator
                        + (windows ? "java.exe" : "java"), windows));
        for (String option : libraryOptions()) {
            command.append(' ').append(quote(option, windows));
        }
        command.append(" -jar ").append(quote(doctorJar(), windows));
        UnsatisfiedLinkError withDoctor = new UnsatisfiedLinkError(error.getMessage()
                + System.lineSeparator()
                + "To find out why, run the loading doctor from the release archive with the program's "
                + (windows ? "PATH" : "LD_LIBRARY_PATH") + " and current folder"
                + (windows ? " (in PowerShell, put & and a blank before it)" : "") + ": " + command);
        withDoctor.initCause(jvmError);
        return withDoctor;
    }

    /**
     * The {@code -D} options that the program was given for {@code
     * java.library.path}, {@code jqel.library} and {@code jqel.native.dir},
     * the last of each, in the
     * order given; or, where the JVM does not say what it was given, those
     * properties' values.
     */
    private static List<String> libraryOptions() {
        String[] names = {"java.library.path", LIBRARY_PROPERTY, NATIVE_DIR_PROPERTY};
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
     * Looks for {@code file} where System.loadLibrary does, up to the first
     * file of the name, which is the one the JVM takes; with {@code debug},
     * prints each place looked in. Returns that file, or null if there is
     * none.
     */
    private static File search(String file, boolean debug) {
        if (debug) {
            debug("looking for " + file + " in the JVM's own folders, then in those of java.library.path:");
        }
        for (String property : new String[] {"sun.boot.library.path", "java.library.path"}) {
            for (String folder : folders(System.getProperty(property, ""))) {
                File candidate = new File(folder, file);
                boolean there = candidate.isFile();
                if (debug) {
                    debug("  " + candidate + " (" + property + "): " + (there ? "found" : "not there"));
                }
                if (there) {
                    return candidate;
                }
            }
        }
        return null;
    }

    /** The folders of a search path as this JVM reads it (LibraryPath). */
    private static List<String> folders(String searchPath) {
        return LibraryPath.folders(searchPath, File.separatorChar == '\\',
                LibraryPath.release(System.getProperty("java.version", "")));
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

    /** jqel-doctor.jar beside the jar of this class, by its full path, if it lies there; else its name. */
    private static String doctorJar() {
        try {
            File jar = new File(JQelLibrary.class.getProtectionDomain().getCodeSource().getLocation().toURI());
            File doctor = new File(jar.getParentFile(), "jqel-doctor.jar");
            if (doctor.isFile()) {
                return doctor.getPath();
            }
        } catch (RuntimeException | URISyntaxException e) {
            // Not from a file: no folder to name.
        }
        return "jqel-doctor.jar";
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
