package jqel.doctor;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Properties;
import java.util.Set;

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
 * does not, as Java 8) and {@code jqel.doctor.path} (PATH). The Windows
 * search then sees the files as they are there (see FileView).
 *
 * <p>Unit tests build a Host from properties and an environment of their
 * own, and set {@link #loaded}, {@link #ldSoConf} and {@link #files}
 * themselves.
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
    /** The Java release: 8 for "1.8", else its feature number. */
    final int javaRelease;
    /** This platform as the classifiers of jqel-native name it (CarriedLibrary.platform), or null where there is none. */
    final String platform;
    /** The folder that copies of a library carried in a jar go into (CarriedLibrary.folder), and whether jqel.native.dir names it. */
    final File copyFolder;
    final boolean copyFolderNamed;
    /** user.name, the user whose copies they are. */
    final String user;
    /**
     * The library files the JVM's process holds already, which both loaders
     * take before they search: on Linux read from /proc/self/maps; on
     * Windows the JVM's own DLLs found in its folders, as Java cannot list
     * a process's modules there.
     */
    List<File> loaded;
    /** Linux: the configuration from whose folders ldconfig builds ld.so.cache. */
    File ldSoConf = new File("/etc/ld.so.conf");
    /** The file system as the modelled loader sees it; unit tests put Windows' own semantics here. */
    FileView files = new FileView();

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
                : properties.containsKey(HOOK + "command") ? properties.getProperty(HOOK + "command")
                : runningProgram(windows);
        program = command == null || command.isEmpty() ? null
                : new File(command).isAbsolute() ? new File(command) : new File(currentFolder, command);
        path = properties.getProperty(HOOK + "path", environment.get("PATH"));
        ldLibraryPath = environment.get("LD_LIBRARY_PATH");
        bootLibraryPath = properties.getProperty(HOOK + "bootpath", properties.getProperty("sun.boot.library.path", ""));
        libraryPath = properties.getProperty("java.library.path", "");
        libraryProperty = properties.getProperty("jqel.library", "");
        javaRelease = LibraryPath.release(properties.getProperty("java.version", "1.8"));
        platform = CarriedLibrary.platform(os, osArch);
        copyFolder = CarriedLibrary.folder(properties);
        copyFolderNamed = !properties.getProperty(CarriedLibrary.DIR_PROPERTY, "").isEmpty();
        user = properties.getProperty("user.name", "");
        loaded = windows ? jvmModules() : mapped();
    }

    /** The DLLs a Windows JVM has loaded before it loads ours: its own and the C runtime beside them. */
    private static final Set<String> JVM_DLLS = new HashSet<>(Arrays.asList("jvm.dll", "java.dll", "verify.dll",
            "zip.dll", "jimage.dll", "msvcr100.dll", "msvcr120.dll", "vcruntime140.dll", "vcruntime140_1.dll",
            "msvcp140.dll"));

    /** Its JVM's DLLs, in the JVM's own folders and their server and client folders, named in any case. */
    private List<File> jvmModules() {
        List<File> modules = new ArrayList<>();
        for (String entry : LibraryPath.folders(bootLibraryPath, true, javaRelease)) {
            File bin = files.path(entry);
            for (File folder : new File[] {bin, new File(bin, "server"), new File(bin, "client")}) {
                for (String name : files.list(folder)) {
                    if (JVM_DLLS.contains(name.toLowerCase(Locale.ROOT))) {
                        modules.add(new File(folder, name));
                    }
                }
            }
        }
        return modules;
    }

    /** Linux: the shared library files this process has mapped; none where /proc cannot be read. */
    private static List<File> mapped() {
        Set<File> files = new LinkedHashSet<>();
        try {
            for (String line : Files.readAllLines(new File("/proc/self/maps").toPath(), StandardCharsets.ISO_8859_1)) {
                int path = line.indexOf(" /");
                if (path > 0 && line.contains(".so")) {
                    files.add(new File(line.substring(path + 1).trim()));
                }
            }
        } catch (IOException | InvalidPathException e) {
            // No /proc: the loader's search alone then.
        }
        return new ArrayList<>(files);
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

    /** The JVM's machine as side-by-side manifests name it ("x86", "amd64"), for which "*" stands in them. */
    String processorArchitecture() {
        Machine machine = Machine.ofArch(arch);
        return machine == null ? arch : machine.sideBySide;
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
        Machine machine = Machine.ofArch(arch);
        return machine == null ? 64 : machine.bits;
    }

    private static int dataModel(String model, String arch) {
        if ("32".equals(model) || "64".equals(model)) {
            return Integer.parseInt(model);
        }
        return archBits(arch);
    }

    /**
     * The running process's program, from ProcessHandle (Java 9 and later),
     * called by reflection, since this code is compiled for Java 8; where
     * that does not say, on Linux, /proc/self/exe; null where neither does
     * (Windows' Java 8: see WindowsLoader).
     */
    private static String runningProgram(boolean windows) {
        try {
            Class<?> handle = Class.forName("java.lang.ProcessHandle");
            Object info = handle.getMethod("info").invoke(handle.getMethod("current").invoke(null));
            Object command = Class.forName("java.lang.ProcessHandle$Info").getMethod("command").invoke(info);
            String program = (String) ((java.util.Optional<?>) command).orElse(null);
            if (program != null || windows) {
                return program;
            }
        } catch (ReflectiveOperationException | RuntimeException e) {
            // Java 8: see below.
        }
        File exe = new File("/proc/self/exe");
        try {
            return windows || !exe.exists() ? null : exe.getCanonicalPath();
        } catch (IOException e) {
            return null;
        }
    }

    private static String first(String a, String b) {
        return a != null ? a : b;
    }
}
