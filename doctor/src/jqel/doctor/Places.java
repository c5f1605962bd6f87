package jqel.doctor;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryIteratorException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.regex.PatternSyntaxException;

/** The folders in which the system's loader looks for the libraries a library needs, in its order. */
final class Places {
    /** Why a Linux loader looks in one of its default folders. */
    static final String DEFAULT = "the default folders";
    /** Why Windows looks in its system folder. */
    static final String SYSTEM = "the system folder";
    static final String PATH = "PATH";
    static final String CURRENT = "the current folder";
    static final String LD_LIBRARY_PATH = "LD_LIBRARY_PATH";
    /** Why a Linux loader takes a library from where the JVM's process has it already. */
    static final String LOADED = "already loaded by the JVM";

    /** A folder the loader looks in, and the rule that puts it there. */
    static final class Place {
        final File folder;
        final String why;

        Place(File folder, String why) {
            this.folder = folder;
            this.why = why;
        }
    }

    /** The multiarch triplets of Debian's library folders, by the JVM's machine. */
    private static final Map<String, String> TRIPLETS = new HashMap<>();

    static {
        TRIPLETS.put("x86", "i386-linux-gnu");
        TRIPLETS.put("amd64", "x86_64-linux-gnu");
        TRIPLETS.put("aarch64", "aarch64-linux-gnu");
        TRIPLETS.put("arm", "arm-linux-gnueabihf");
    }

    private Places() {}

    /**
     * Windows, in its safe search mode, for the DLLs that a DLL loaded by its
     * full path imports: the folder of the program (java.exe), the system
     * folder (SysWOW64 for a 32-bit program on 64-bit Windows, where System32
     * holds the 64-bit DLLs), the 16-bit system folder, the Windows folder,
     * the current folder, then PATH. Not the folder of the DLL itself.
     */
    static List<Place> windows(Host host) {
        List<Place> places = programFolders(host);
        File windir = host.windowsFolder;
        if (windir != null) {
            File wow64 = new File(windir, "SysWOW64");
            boolean wow = host.bits == 32 && wow64.isDirectory();
            places.add(new Place(wow ? wow64 : new File(windir, "System32"), SYSTEM));
            places.add(new Place(new File(windir, "System"), "the 16-bit system folder"));
            places.add(new Place(windir, "the Windows folder"));
        }
        places.add(new Place(host.currentFolder, CURRENT));
        for (String entry : split(host.path, ";")) {
            if (!entry.isEmpty()) {
                places.add(new Place(new File(entry), PATH));
            }
        }
        return places;
    }

    /**
     * The folder of the program that runs the JVM. Java 9 and later say
     * which program that is; Java 8 does not, and then it is taken to be
     * java.exe in java.home's bin, or, where java.home is a JDK's jre
     * folder, the JDK's own java.exe (jdk\bin, the one usually run) first.
     */
    private static List<Place> programFolders(Host host) {
        List<Place> places = new ArrayList<>();
        if (host.program != null) {
            File folder = host.program.getParentFile();
            places.add(new Place(folder != null ? folder : host.program, "the program's folder: " + host.program.getName()
                    + (host.programNamed ? ", as jqel.doctor.program names it" : "")));
            return places;
        }
        String assumed = "; assumed, as Java 8 does not say which program runs";
        File jdk = host.javaHome.getParentFile();
        if (host.javaHome.getName().equalsIgnoreCase("jre") && jdk != null && new File(jdk, "bin/java.exe").isFile()) {
            places.add(new Place(new File(jdk, "bin"), "the program's folder, if it is the JDK's java.exe" + assumed));
        }
        places.add(new Place(new File(host.javaHome, "bin"), "the program's folder, if it is java.home's java.exe" + assumed));
        return places;
    }

    /**
     * Linux (ld.so), for the libraries that {@code image} needs, with
     * $ORIGIN as {@code origin}: its DT_RPATH (only when it has no
     * DT_RUNPATH), LD_LIBRARY_PATH, its DT_RUNPATH, then the default
     * folders. An empty entry in any of them is the current folder. What of
     * the loader's configuration cannot be read is added to {@code unread}.
     */
    static List<Place> linux(Host host, Image image, File origin, List<String> unread) {
        List<Place> places = new ArrayList<>();
        if (image.runpath.isEmpty()) {
            addRunPath(places, image.rpath, "RPATH", origin);
        }
        if (host.ldLibraryPath != null && !host.ldLibraryPath.isEmpty()) {
            for (String entry : host.ldLibraryPath.split("[:;]", -1)) {
                places.add(new Place(new File(entry.isEmpty() ? "." : entry), LD_LIBRARY_PATH));
            }
        }
        addRunPath(places, image.runpath, "RUNPATH", origin);
        for (File folder : defaultFolders(host, unread)) {
            places.add(new Place(folder, DEFAULT));
        }
        return places;
    }

    private static void addRunPath(List<Place> places, List<String> entries, String tag, File origin) {
        for (String entry : entries) {
            String folder = entry.isEmpty() ? "." : entry.replace("${ORIGIN}", origin.getPath()).replace("$ORIGIN", origin.getPath());
            places.add(new Place(new File(folder), tag + (entry.isEmpty() ? ", an empty entry" : " " + entry)));
        }
    }

    /**
     * Linux: the shared library files that this JVM's process has mapped
     * (/proc/self/maps), such as the C and C++ runtimes; none where that
     * cannot be read.
     */
    static List<File> loaded() {
        Set<File> files = new LinkedHashSet<>();
        try {
            for (String line : Files.readAllLines(new File("/proc/self/maps").toPath(), StandardCharsets.ISO_8859_1)) {
                int path = line.indexOf(" /");
                if (path > 0 && line.contains(".so")) {
                    files.add(new File(line.substring(path + 1).trim()));
                }
            }
        } catch (IOException | InvalidPathException e) {
            // Not Linux, or no /proc: the loader's search alone then.
        }
        return new ArrayList<>(files);
    }

    /**
     * The loaded library that ld.so takes for a name before it searches any
     * folder: one of that file name, or its versioned file (libstdc++.so.6
     * is libstdc++.so.6.0.30); null if none.
     */
    static File loadedAs(List<File> loaded, String name) {
        for (File file : loaded) {
            if (file.getName().equals(name) || file.getName().startsWith(name + ".")) {
                return file;
            }
        }
        return null;
    }

    /**
     * The folders of /etc/ld.so.conf, following its include lines, from which
     * ldconfig makes the cache ld.so reads; then the folders ld.so knows
     * itself: on Debian and its derivatives first /lib/<triplet> and
     * /usr/lib/<triplet> of the JVM's machine, then /lib and /usr/lib, and
     * /lib64 and /usr/lib64 for 64 bits. Only those that exist.
     */
    private static List<File> defaultFolders(Host host, List<String> unread) {
        Set<File> folders = new LinkedHashSet<>();
        readConf(new File("/etc/ld.so.conf"), folders, 0, unread);
        String triplet = TRIPLETS.get(host.arch);
        if (triplet != null) {
            folders.add(new File("/lib/" + triplet));
            folders.add(new File("/usr/lib/" + triplet));
        }
        folders.add(new File("/lib"));
        folders.add(new File("/usr/lib"));
        if (host.bits == 64) {
            folders.add(new File("/lib64"));
            folders.add(new File("/usr/lib64"));
        }
        List<File> existing = new ArrayList<>();
        for (File folder : folders) {
            if (folder.isDirectory()) {
                existing.add(folder);
            }
        }
        return existing;
    }

    private static void readConf(File conf, Set<File> folders, int depth, List<String> unread) {
        if (!conf.exists()) {
            return;
        }
        if (!conf.isFile()) {
            unread.add(conf + ": not a regular file");
            return;
        }
        List<String> lines;
        try {
            lines = Files.readAllLines(conf.toPath(), StandardCharsets.ISO_8859_1);
        } catch (IOException | InvalidPathException e) {
            unread.add(conf + (e instanceof IOException ? ": " + reason((IOException) e) : ""));
            return;
        }
        for (String line : lines) {
            line = line.replaceFirst("#.*", "").trim();
            if (line.startsWith("include ") || line.startsWith("include\t")) {
                for (String pattern : line.substring(8).trim().split("\\s+")) {
                    for (File included : glob(conf.getParentFile(), pattern, unread)) {
                        if (depth < 8) {
                            readConf(included, folders, depth + 1, unread);
                        }
                    }
                }
            } else if (!line.isEmpty() && !line.startsWith("hwcap")) {
                folders.add(new File(line.split("=", 2)[0].trim()));
            }
        }
    }

    /** The files a pattern with wildcards in its last part names, sorted as glob(3) sorts them. */
    private static List<File> glob(File base, String pattern, List<String> unread) {
        File file = new File(pattern).isAbsolute() ? new File(pattern) : new File(base, pattern);
        List<File> files = new ArrayList<>();
        if (file.getParentFile() == null) {
            return files;
        }
        try (DirectoryStream<Path> matches = Files.newDirectoryStream(file.getParentFile().toPath(), file.getName())) {
            for (Path match : matches) {
                files.add(match.toFile());
            }
        } catch (NoSuchFileException e) {
            // ldconfig finds nothing there either.
        } catch (IOException e) {
            unread.add(file.getParent() + ": " + reason(e));
        } catch (DirectoryIteratorException e) {
            // A 32-bit JVM on a 64-bit kernel may fail to list a folder whose
            // entries have 64-bit inode numbers ("Value too large").
            unread.add(file.getParent() + ": " + reason(e.getCause()));
        } catch (InvalidPathException | PatternSyntaxException e) {
            unread.add(pattern + ": " + e.getMessage());
        }
        Collections.sort(files);
        return files;
    }

    /** Why a file or folder could not be read, without its path. */
    private static String reason(IOException e) {
        String reason = e instanceof FileSystemException ? ((FileSystemException) e).getReason() : e.getMessage();
        return reason != null ? reason : "cannot be read";
    }

    /** The entries of a list such as PATH; none when it is null. */
    static List<String> split(String list, String separator) {
        List<String> entries = new ArrayList<>();
        if (list != null && !list.isEmpty()) {
            Collections.addAll(entries, list.split(separator, -1));
        }
        return entries;
    }

    /**
     * The file or folder called {@code name} in {@code folder}, or null. On
     * Windows, whose file names ignore case, one whose name differs in case
     * counts too (MSVCR80.dll is msvcr80.dll in WinSxS).
     */
    static File entry(File folder, String name, boolean ignoreCase) {
        File exact = new File(folder, name);
        if (exact.exists()) {
            return exact;
        }
        String[] names = ignoreCase ? folder.list() : null;
        if (names != null) {
            for (String other : names) {
                if (other.equalsIgnoreCase(name)) {
                    return new File(folder, other);
                }
            }
        }
        return null;
    }
}
