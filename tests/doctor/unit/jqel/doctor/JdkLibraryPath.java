package jqel.doctor;

import java.lang.reflect.Method;

/**
 * Run in a JVM of its own: prints that JVM's release, then, for each path of
 * {@link #PATHS}, the folders its class library reads from it (joined by
 * "|"), from the JDK's own parser: ClassLoaderHelper.parsePath (Java 15
 * and later) or ClassLoader.initializePath (Java 8 to 14), called by
 * reflection (the packages must be opened to it on Java 9 and later).
 */
final class JdkLibraryPath {
    /** Paths as a user may write java.library.path on Linux: empty entries, separators at either end, quotes. */
    static final String[] PATHS = {"", ":", "::", "/a", "/a:", ":/a", "/a::/b", "/a:/b:", "\"/a:/b\"", "\"/a\"", "/a\"b",
        "\"\"", " "};

    private JdkLibraryPath() {}

    public static void main(String[] args) throws ReflectiveOperationException {
        System.out.println(System.getProperty("java.version"));
        for (String path : PATHS) {
            System.out.println(String.join("|", parse(path)));
        }
    }

    private static String[] parse(String path) throws ReflectiveOperationException {
        try {
            Method parsePath = Class.forName("jdk.internal.loader.ClassLoaderHelper")
                    .getDeclaredMethod("parsePath", String.class);
            parsePath.setAccessible(true);
            return (String[]) parsePath.invoke(null, path);
        } catch (ClassNotFoundException | NoSuchMethodException e) {
            // Before Java 15: the class loader reads a system property.
            Method initializePath = ClassLoader.class.getDeclaredMethod("initializePath", String.class);
            initializePath.setAccessible(true);
            System.setProperty("jqel.test.path", path);
            return (String[]) initializePath.invoke(null, "jqel.test.path");
        }
    }
}
