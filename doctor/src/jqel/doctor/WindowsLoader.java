package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Set;

/**
 * Windows' loader, for the DLLs that a DLL loaded by its full path imports
 * (HotSpot loads the library so), as Microsoft documents the search with
 * safe search mode on, the default: a module of that name already loaded
 * in the process; a DLL of an assembly that the importer's own manifest
 * names; KnownDLLs, from the system folder; the program's folder; the system
 * folder (SysWOW64 for a 32-bit JVM on 64-bit Windows); the 16-bit system
 * folder; the Windows folder; the current folder; then PATH. Not the folder
 * of the importing DLL. The loader passes over a DLL built for another
 * machine and goes on; it stops at the first file that is no DLL at all.
 */
final class WindowsLoader extends Loader {
    /**
     * The KnownDLLs of every Windows since 7, which the loader maps from the
     * system folder whatever the search order says. The doctor cannot read
     * the registry, so the list is assumed, and the report says so.
     */
    static final Set<String> KNOWN_DLLS = new HashSet<>(Arrays.asList("advapi32.dll", "comdlg32.dll", "gdi32.dll",
            "imagehlp.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll",
            "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "ws2_32.dll", "ntdll.dll"));

    private final List<Place> search = new ArrayList<>();
    /** Java 8 with a JDK: the folders of the java.exe that may be running, of which none is sure. */
    final List<File> assumedPrograms = new ArrayList<>();
    final File systemFolder;

    WindowsLoader(Host host) {
        super(host);
        File windir = host.windowsFolder;
        File wow64 = windir == null ? null : new File(windir, "SysWOW64");
        systemFolder = windir == null ? null : host.bits == 32 && wow64.isDirectory() ? wow64 : new File(windir, "System32");
        programFolders();
        if (windir != null) {
            search.add(new Place(systemFolder, Place.Rule.SYSTEM, ""));
            search.add(new Place(new File(windir, "System"), Place.Rule.SYSTEM16, ""));
            search.add(new Place(windir, Place.Rule.WINDOWS, ""));
        }
        search.add(new Place(host.currentFolder, Place.Rule.CURRENT, ", SafeDllSearchMode on, the default"));
        for (String entry : split(host.path, ";")) {
            if (!entry.isEmpty()) {
                search.add(new Place(new File(entry), Place.Rule.PATH, ""));
            }
        }
    }

    /**
     * The folder of the program that runs the JVM. Java 9 and later say
     * which program that is. Java 8 does not: java.home's bin is then taken
     * as the program's folder; but where java.home is a JDK's jre folder,
     * either the JDK's bin\java.exe or jre\bin\java.exe may run, and neither
     * folder is searched: a DLL found only there is a fault of its own.
     */
    private void programFolders() {
        if (host.program != null) {
            File folder = host.program.getParentFile();
            search.add(new Place(folder != null ? folder : host.program, Place.Rule.PROGRAM, ", " + host.program.getName()
                    + (host.programNamed ? ", as jqel.doctor.program names it" : "")));
            return;
        }
        File jdk = host.javaHome.getParentFile();
        File bin = new File(host.javaHome, "bin");
        if (host.javaHome.getName().equalsIgnoreCase("jre") && jdk != null && new File(jdk, "bin/java.exe").isFile()) {
            assumedPrograms.add(new File(jdk, "bin"));
            assumedPrograms.add(bin);
            return;
        }
        search.add(new Place(bin, Place.Rule.PROGRAM, ", assumed java.exe: Java 8 does not say which program runs"));
    }

    @Override
    List<Place> places(Node node) {
        return search;
    }

    @Override
    String key(String name) {
        return name.toLowerCase(Locale.ROOT);
    }

    @Override
    boolean skipped(String name) {
        String lower = key(name);
        return lower.startsWith("api-ms-win-") || lower.startsWith("ext-ms-");
    }

    @Override
    void started(Node root) {
        manifest(root);
    }

    @Override
    Node resolve(String name, Node importer) {
        Node node = new Node(name, importer);
        List<Node.Candidate> candidates = new ArrayList<>();
        for (File module : host.loaded) {
            if (module.getName().equalsIgnoreCase(name)) {
                candidates.add(new Node.Candidate(module, new Place(module.getParentFile(), Place.Rule.LOADED, "")));
            }
        }
        for (Node.Use use : importer.assemblies) {
            File file = use.folder == null ? null : entry(use.folder, name);
            if (file != null) {
                candidates.add(new Node.Candidate(file, new Place(use.folder, Place.Rule.ASSEMBLY, use.assembly.name)));
            }
        }
        List<Place> order = KNOWN_DLLS.contains(key(name)) && systemFolder != null
                ? Arrays.asList(new Place(systemFolder, Place.Rule.KNOWN_DLL, ", assumed: the registry is not read"))
                : search;
        for (Place place : order) {
            File file = entry(place.folder, name);
            if (file != null) {
                candidates.add(new Node.Candidate(file, place));
            }
        }
        Node.Candidate chosen = take(candidates, node, true);
        if (chosen != null) {
            accept(node, chosen);
            if (node.image != null) {
                manifest(node);
            }
            return node;
        }
        for (File folder : assumedPrograms) {
            if (entry(folder, name) != null) {
                node.assumedOnly = entry(folder, name);
                return node;
            }
        }
        File home = importer.file == null ? null : importer.file.getParentFile();
        node.beside = home == null ? null : entry(home, name);
        for (String entry : split(host.path, ";")) {
            if (entry.length() > 2 && entry.startsWith("\"") && entry.endsWith("\"")
                    && entry(new File(entry.substring(1, entry.length() - 1)), name) != null) {
                node.quotedEntry = entry;
            } else if (entry.matches(".*%[^%;]+%.*")) {
                node.unexpanded.add(entry);
            }
        }
        return node;
    }

    /**
     * The assemblies a DLL's own manifest names, each resolved as
     * Microsoft's "Assembly Searching Sequence" gives it: WinSxS, with a
     * publisher policy, then a private assembly in the DLL's own folder,
     * which stands for the application's folder.
     */
    private void manifest(Node node) {
        if (node.image.manifest == null) {
            return;
        }
        File winSxS = host.windowsFolder == null ? null : new File(host.windowsFolder, "WinSxS");
        for (Assembly assembly : Assembly.dependencies(node.image.manifest)) {
            Node.Use use = new Node.Use(assembly);
            use.folder = winSxS == null ? null : assembly.find(winSxS);
            use.how = "WinSxS";
            if (use.folder == null && node.file != null) {
                use.folder = assembly.findPrivate(node.file.getParentFile());
                use.how = "a private assembly";
            }
            if (use.folder == null && winSxS != null) {
                use.otherArchitectures = assembly.otherArchitectures(winSxS);
            }
            node.assemblies.add(use);
        }
    }

    /**
     * Each file taken must export what its importer imports from it; an
     * export forwarded to another DLL needs that DLL, found as a DLL that
     * the forwarding one imports, and the function in it.
     */
    @Override
    void check(Node root) {
        for (Node node : inLoadOrder(root)) {
            Node importer = node.importer;
            List<String> wanted = importer == null || importer.image == null ? null : importer.image.imports.get(node.name);
            if (node.again || node.image == null || node.bad != null || wanted == null) {
                continue;
            }
            for (String function : wanted) {
                Node.Link link = new Node.Link(function);
                link.satisfied = node.image.exports.containsKey(function);
                link.forward = node.image.exports.get(function);
                if (link.forward != null) {
                    link.satisfied = forward(node, link);
                }
                node.links.add(link);
            }
        }
    }

    private boolean forward(Node node, Node.Link link) {
        int dot = link.forward.lastIndexOf('.');
        if (dot <= 0) {
            return false;
        }
        String dll = link.forward.substring(0, dot);
        String function = link.forward.substring(dot + 1);
        String name = dll.contains(".") ? dll : dll + ".dll";
        Node target = taken.get(key(name));
        if (target == null) {
            target = resolve(name, node);
            taken.put(key(name), target);
            node.children.add(target);
        }
        link.target = target;
        String export = function.matches("#[0-9]{1,5}") ? Image.ordinal(Long.parseLong(function.substring(1))) : function;
        return target.image != null && target.bad == null && target.image.exports.containsKey(export)
                && target.image.exports.get(export) == null;
    }

    /** The file called {@code name} in {@code folder}, whatever the case of its name (Windows ignores it), or null. */
    static File entry(File folder, String name) {
        File exact = new File(folder, name);
        if (exact.isFile()) {
            return exact;
        }
        String[] names = folder.list();
        for (int i = 0; names != null && i < names.length; i++) {
            if (names[i].equalsIgnoreCase(name) && new File(folder, names[i]).isFile()) {
                return new File(folder, names[i]);
            }
        }
        return null;
    }
}
