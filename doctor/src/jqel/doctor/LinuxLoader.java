package jqel.doctor;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashSet;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * ld.so, as glibc's elf/dl-load.c searches: a library the process holds
 * already; when the object that needs it has no DT_RUNPATH, the DT_RPATH of
 * that object and of each object that loaded it, up to our library, then
 * the program's own (an object with DT_RUNPATH has no DT_RPATH that
 * counts); LD_LIBRARY_PATH; the object's DT_RUNPATH; the loader's cache, here
 * the folders of /etc/ld.so.conf from which ldconfig builds it (the cache
 * itself is not read); then the default folders. $ORIGIN, $LIB and
 * $PLATFORM are expanded as ld.so expands them ($ORIGIN of LD_LIBRARY_PATH
 * is the program's folder). ld.so passes over a file of another class or
 * machine, and one it may not open; any other file of the name ends the
 * search, and the load, with ld.so's words. Last it checks the symbol
 * versions each object needs (DT_VERNEED) against those its providers
 * define (DT_VERDEF).
 */
final class LinuxLoader extends Loader {
    private final List<String> unread = new ArrayList<>();
    private final List<Place> tail = new ArrayList<>();
    /** The program running the JVM (bin/java), read for its DT_RPATH; null if it is not known or cannot be read. */
    private final Node program;

    LinuxLoader(Host host) {
        super(host);
        Set<File> conf = new LinkedHashSet<>();
        readConf(host.ldSoConf, conf, 0);
        for (File folder : conf) {
            tail.add(new Place(folder, Place.Rule.CACHE, ""));
        }
        Machine machine = Machine.ofArch(host.arch);
        List<String> defaults = new ArrayList<>();
        if (machine != null) {
            defaults.add("/lib/" + machine.triplet);
            defaults.add("/usr/lib/" + machine.triplet);
        }
        Collections.addAll(defaults, "/lib", "/usr/lib");
        if (host.bits == 64) {
            Collections.addAll(defaults, "/lib64", "/usr/lib64");
        }
        for (String folder : defaults) {
            tail.add(new Place(new File(folder), Place.Rule.DEFAULT, ""));
        }
        program = program(host.program);
    }

    private static Node program(File file) {
        if (file == null) {
            return null;
        }
        Node program = new Node(file.getName(), null);
        try {
            program.image = Image.program(file);
            program.file = canonical(file);
            return program;
        } catch (BadFile e) {
            return null;
        }
    }

    /** What of ld.so's configuration could not be read. */
    List<String> unread() {
        return unread;
    }

    @Override
    String key(String name) {
        return name;
    }

    /** A file of another class or machine, or one it may not open (EACCES), ld.so passes over. */
    @Override
    boolean passesOver(Node.Candidate candidate) {
        return candidate.state == Node.Candidate.State.OTHER_MACHINE || candidate.state == Node.Candidate.State.UNREADABLE;
    }

    /** ld.so's words for the files it stops at: those of its own checks, in their order. */
    @Override
    void judge(Node.Candidate candidate) {
        super.judge(candidate);
        if (candidate.state == Node.Candidate.State.LOADABLE) {
            return;
        }
        if (candidate.file.isDirectory()) {
            candidate.loaderWords = "cannot read file data: Is a directory";
        } else if (candidate.file.length() < (host.bits == 64 ? 64 : 52)) {
            candidate.loaderWords = "file too short";
        } else if (candidate.state == Node.Candidate.State.OTHER_SYSTEM) {
            candidate.loaderWords = "invalid ELF header";
        }
    }

    @Override
    List<Place> places(Node node) {
        List<Place> places = new ArrayList<>();
        if (node.image.runpath.isEmpty()) {
            for (Node object = node; object != null; object = object.importer) {
                if (object.image != null && object.image.runpath.isEmpty()) {
                    runPath(places, object.image.rpath, Place.Rule.RPATH, object);
                }
            }
            if (program != null && program.image.runpath.isEmpty()) {
                runPath(places, program.image.rpath, Place.Rule.RPATH, program);
            }
        }
        if (host.ldLibraryPath != null && !host.ldLibraryPath.isEmpty()) {
            for (String entry : host.ldLibraryPath.split("[:;]", -1)) {
                File folder = entry.isEmpty() ? host.currentFolder : new File(expand(entry, program));
                places.add(new Place(folder, Place.Rule.LD_LIBRARY_PATH, entry.isEmpty() ? ", an empty entry: the current folder"
                        : ""));
            }
        }
        runPath(places, node.image.runpath, Place.Rule.RUNPATH, node);
        places.addAll(tail);
        return places;
    }

    private void runPath(List<Place> places, List<String> entries, Place.Rule rule, Node object) {
        for (String entry : entries) {
            places.add(new Place(entry.isEmpty() ? host.currentFolder : new File(expand(entry, object)), rule,
                    (entry.isEmpty() ? "an empty entry" : entry) + " of " + object.name));
        }
    }

    /** $ORIGIN (the object's folder), $LIB (Debian: lib/<triplet>) and $PLATFORM, braced or not. */
    String expand(String entry, Node object) {
        Machine machine = Machine.ofArch(host.arch);
        String lib = machine != null && new File("/lib/" + machine.triplet).isDirectory() ? "lib/" + machine.triplet
                : host.bits == 64 ? "lib64" : "lib";
        String origin = object == null || object.file == null ? "." : object.file.getParent();
        String platform = machine == null ? "$PLATFORM" : machine.platform;
        return entry.replace("${ORIGIN}", origin).replace("$ORIGIN", origin).replace("${LIB}", lib).replace("$LIB", lib)
                .replace("${PLATFORM}", platform).replace("$PLATFORM", platform);
    }

    @Override
    Node resolve(String name, Node importer) {
        Node node = new Node(name, importer);
        for (File file : host.loaded) {
            if (file.getName().equals(name) || file.getName().startsWith(name + ".")) {
                if (offer(node, new Node.Candidate(file, new Place(file.getParentFile(), Place.Rule.LOADED, "")))) {
                    return node;
                }
                break;
            }
        }
        if (name.contains("/")) {
            offer(node, new Node.Candidate(new File(name), new Place(new File(name).getParentFile(), Place.Rule.DEFAULT,
                    ", named by path")));
            return node;
        }
        for (Place place : importer.places) {
            File file = new File(place.folder, name);
            if (file.exists() && offer(node, new Node.Candidate(file, place))) {
                return node;
            }
        }
        return node;
    }

    /**
     * Every symbol that a library of the tree takes from others must be
     * defined by one of them, and every symbol version it needs by the
     * library it names. Not judged while one of them is missing.
     */
    @Override
    void check(Node root) {
        Set<String> defined = new HashSet<>();
        for (Node node : taken.values()) {
            if (!node.loadable()) {
                return;
            }
            defined.addAll(node.image.exports.keySet());
        }
        for (Node node : taken.values()) {
            if (node.system()) {
                continue;
            }
            for (String symbol : node.image.imports.getOrDefault("", new ArrayList<String>())) {
                if (!defined.contains(symbol)) {
                    node.undefined.add(symbol);
                }
            }
            for (Map.Entry<String, List<String>> needed : node.image.versionsNeeded.entrySet()) {
                Node provider = taken.get(needed.getKey());
                Set<String> versions = provider == null ? Collections.<String>emptySet() : provider.image.versionsDefined;
                for (String version : needed.getValue()) {
                    // A provider without DT_VERDEF has no versions to check: ld.so lets it pass.
                    if (!versions.isEmpty() && !versions.contains(version)) {
                        node.missingVersions.computeIfAbsent(provider, k -> new ArrayList<>()).add(version);
                    }
                }
            }
        }
    }

    /** The folders of an ld.so.conf, following its include lines. */
    private void readConf(File conf, Set<File> folders, int depth) {
        if (!conf.exists()) {
            return;
        }
        List<String> lines;
        try {
            lines = Files.readAllLines(conf.toPath(), StandardCharsets.ISO_8859_1);
        } catch (IOException | RuntimeException e) {
            unread.add(conf + ": " + e.getMessage());
            return;
        }
        for (String line : lines) {
            line = line.replaceFirst("#.*", "").trim();
            if (line.startsWith("include ") || line.startsWith("include\t")) {
                for (String pattern : line.substring(8).trim().split("\\s+")) {
                    for (File included : glob(conf.getParentFile(), pattern)) {
                        if (depth < 8) {
                            readConf(included, folders, depth + 1);
                        }
                    }
                }
            } else if (!line.isEmpty() && !line.startsWith("hwcap")) {
                folders.add(new File(line.split("=", 2)[0].trim()));
            }
        }
    }

    /** The files a pattern with wildcards in its last part names, sorted as glob(3) sorts them. */
    private List<File> glob(File base, String pattern) {
        File file = new File(pattern).isAbsolute() ? new File(pattern) : new File(base, pattern);
        List<File> files = new ArrayList<>();
        if (file.getParentFile() == null || !file.getParentFile().isDirectory()) {
            return files;
        }
        try (DirectoryStream<Path> matches = Files.newDirectoryStream(file.getParentFile().toPath(), file.getName())) {
            for (Path match : matches) {
                files.add(match.toFile());
            }
        } catch (IOException | RuntimeException e) {
            // A 32-bit JVM on a 64-bit kernel may fail to list a folder whose
            // entries have 64-bit inode numbers ("Value too large").
            unread.add(file.getParent() + ": " + e.getMessage());
        }
        Collections.sort(files);
        return files;
    }
}
