package jqel.doctor;

import java.io.File;
import java.util.Map;
import java.util.Properties;

/**
 * The facts about this JVM and its system that decide where the library and
 * what it needs are found, from the JVM's properties and the environment.
 *
 * <p>For tests only, these system properties replace the facts of a Windows
 * JVM, so that the Windows search runs on any machine:
 * {@code jqel.doctor.os} ("windows" or "linux"), {@code jqel.doctor.arch}
 * (the JVM's os.arch: "x86", "amd64"), {@code jqel.doctor.windir} (the
 * Windows folder), {@code jqel.doctor.javabin} (the folder of java.exe) and
 * {@code jqel.doctor.path} (PATH).
 */
final class Host {
    private static final String HOOK = "jqel.doctor.";

    final boolean windows;
    /** The JVM's architecture, named as {@link Image#arch}. */
    final String arch;
    final int bits;
    /** One line on the JVM and the system it runs on. */
    final String jvm;
    /** Windows: the Windows folder (SystemRoot), or null when unknown. */
    final File windowsFolder;
    /** The folder of the java program running this JVM. */
    final File javaBin;
    final File currentFolder;
    /** PATH (Windows) and LD_LIBRARY_PATH (Linux), null when not set. */
    final String path;
    final String ldLibraryPath;
    final String bootLibraryPath;
    final String libraryPath;
    /** The jqel.library property, "" when not set. */
    final String libraryProperty;

    Host(Properties properties, Map<String, String> environment) {
        String os = properties.getProperty(HOOK + "os", properties.getProperty("os.name", ""));
        windows = os.toLowerCase(java.util.Locale.ROOT).startsWith("windows");
        String hookedArch = properties.getProperty(HOOK + "arch");
        String osArch = hookedArch != null ? hookedArch : properties.getProperty("os.arch", "");
        arch = normalArch(osArch);
        bits = hookedArch != null ? archBits(arch) : dataModel(properties.getProperty("sun.arch.data.model"), arch);
        String system = properties.containsKey(HOOK + "os")
                ? os
                : properties.getProperty("os.name", "") + " " + properties.getProperty("os.version", "");
        jvm = "Java " + properties.getProperty("java.version", "?")
                + " (" + properties.getProperty("java.vendor", "?") + "), "
                + properties.getProperty("java.vm.name", "?") + ", " + osArch + " (" + bits + "-bit), on " + system;
        String windir = properties.getProperty(HOOK + "windir", first(environment.get("SystemRoot"), environment.get("windir")));
        windowsFolder = windir == null || windir.isEmpty() ? null : new File(windir);
        javaBin = new File(properties.getProperty(HOOK + "javabin",
                properties.getProperty("java.home", "") + File.separator + "bin"));
        currentFolder = new File(properties.getProperty("user.dir", "."));
        path = properties.getProperty(HOOK + "path", environment.get("PATH"));
        ldLibraryPath = environment.get("LD_LIBRARY_PATH");
        bootLibraryPath = properties.getProperty("sun.boot.library.path", "");
        libraryPath = properties.getProperty("java.library.path", "");
        libraryProperty = properties.getProperty("jqel.library", "");
    }

    /** The file name System.loadLibrary gives the library here. */
    String libraryFileName() {
        return windows ? "JQelAgtMsg.dll" : "libJQelAgtMsg.so";
    }

    String libraryFormat() {
        return windows ? Image.PE : Image.ELF;
    }

    /** "x86 (32-bit)": the JVM's machine, as remedies name it. */
    String describeJvm() {
        return (arch.isEmpty() ? "its machine" : arch) + " (" + bits + "-bit)";
    }

    /** os.arch as {@link Image#arch} names machines: "x86", "amd64", "aarch64", "arm"; "" for others. */
    static String normalArch(String osArch) {
        switch (osArch) {
            case "x86": case "i386": case "i486": case "i586": case "i686":
                return "x86";
            case "amd64": case "x86_64":
                return "amd64";
            case "aarch64": case "arm64":
                return "aarch64";
            case "arm":
                return "arm";
            default:
                return "";
        }
    }

    private static int archBits(String arch) {
        return arch.equals("x86") || arch.equals("arm") ? 32 : 64;
    }

    private static int dataModel(String model, String arch) {
        if ("32".equals(model) || "64".equals(model)) {
            return Integer.parseInt(model);
        }
        return archBits(arch);
    }

    private static String first(String a, String b) {
        return a != null ? a : b;
    }
}
