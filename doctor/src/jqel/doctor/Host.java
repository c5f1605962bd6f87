package jqel.doctor;

import java.io.File;
import java.util.Map;
import java.util.Properties;

/**
 * The facts about this JVM and its system that decide where the library and
 * what it needs are found, from the JVM's properties and the environment.
 *
 * <p>The system property {@code jqel.doctor.program} names the program whose
 * folder Windows searches first, for an application that a wrapper runs
 * (a service runner, a launcher .exe) rather than java.exe.
 *
 * <p>For tests only, these system properties replace the facts of a Windows
 * JVM, so that the Windows search runs on any machine:
 * {@code jqel.doctor.os} (the system as the first line names it; Windows if
 * it begins with "windows"), {@code jqel.doctor.arch} (the JVM's os.arch:
 * "x86", "amd64"), {@code jqel.doctor.windir} (the Windows folder),
 * {@code jqel.doctor.javahome} (java.home), {@code jqel.doctor.bootpath}
 * (sun.boot.library.path, the JVM's own folders), {@code jqel.doctor.command}
 * (the running program, as Java 9 and later report it; empty for a JVM that
 * does not, as Java 8) and {@code jqel.doctor.path} (PATH).
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
    /** java.home: on Java 8 the JDK's jre folder, or the JRE. */
    final File javaHome;
    /** The program running this JVM, as jqel.doctor.program names it or Java reports it; null if unknown. */
    final File program;
    /** Whether {@link #program} comes from jqel.doctor.program. */
    final boolean programNamed;
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
        currentFolder = new File(properties.getProperty("user.dir", "."));
        javaHome = new File(properties.getProperty(HOOK + "javahome", properties.getProperty("java.home", "")));
        String named = properties.getProperty(HOOK + "program", "");
        programNamed = !named.isEmpty();
        String command = programNamed ? named
                : properties.containsKey(HOOK + "command") ? properties.getProperty(HOOK + "command") : runningProgram();
        program = command == null || command.isEmpty() ? null
                : new File(command).isAbsolute() ? new File(command) : new File(currentFolder, command);
        path = properties.getProperty(HOOK + "path", environment.get("PATH"));
        ldLibraryPath = environment.get("LD_LIBRARY_PATH");
        bootLibraryPath = properties.getProperty(HOOK + "bootpath", properties.getProperty("sun.boot.library.path", ""));
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

    /**
     * The running process's program, from ProcessHandle (Java 9 and later),
     * called by reflection, since this code is compiled for Java 8; null
     * where the JVM does not say.
     */
    private static String runningProgram() {
        try {
            Class<?> handle = Class.forName("java.lang.ProcessHandle");
            Object info = handle.getMethod("info").invoke(handle.getMethod("current").invoke(null));
            Object command = Class.forName("java.lang.ProcessHandle$Info").getMethod("command").invoke(info);
            return (String) ((java.util.Optional<?>) command).orElse(null);
        } catch (ReflectiveOperationException | RuntimeException e) {
            return null;
        }
    }

    private static String first(String a, String b) {
        return a != null ? a : b;
    }
}
