package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;

/**
 * Windows' loader, for the DLLs that a DLL loaded by its full path imports
 * (HotSpot loads the library so), as Microsoft's "Dynamic-link library
 * search order" gives the search for a desktop application with safe search
 * mode on, the default: an API set (api-ms-win-*, ext-ms-*, resolved
 * without a file, in imports and forwarders alike); a DLL of an assembly
 * that the importer's own manifest names; a module of that name already
 * loaded in the process; KnownDLLs, from the system folder; the program's
 * folder; the system folder (SysWOW64 for a 32-bit JVM on 64-bit Windows);
 * the 16-bit system folder; the Windows folder; the current folder; then
 * PATH. Not the folder of the importing DLL. It stops at the first file it
 * can load, passes over a DLL built for another machine, and stops at any
 * other file of the name. Names are compared without case.
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
    /** The manifest resource the loader reads for a DLL's imports (ISOLATIONAWARE_MANIFEST_RESOURCE_ID). */
    static final int DLL_MANIFEST = 2;
    /** How deep forwarders are followed, one to the next. */
    private static final int MAX_FORWARDS = 16;

    private final List<Place> search = new ArrayList<>();
    /** Java 8 with a JDK: the folders of the java.exe that may be running, of which none is sure. */
    final List<File> assumedPrograms = new ArrayList<>();
    final File systemFolder;
    final SideBySide sideBySide;

    WindowsLoader(Host host) {
        super(host);
        File windir = host.windowsFolder;
        File wow64 = windir == null ? null : new File(windir, "SysWOW64");
        systemFolder = windir == null ? null : host.bits == 32 && wow64.isDirectory() ? wow64 : new File(windir, "System32");
        sideBySide = new SideBySide(host.files, windir, host.processorArchitecture());
        programFolders();
        if (windir != null) {
            search.add(new Place(systemFolder, Place.Rule.SYSTEM, ""));
            search.add(new Place(new File(windir, "System"), Place.Rule.SYSTEM16, ""));
            search.add(new Place(windir, Place.Rule.WINDOWS, ""));
        }
        search.add(new Place(host.currentFolder, Place.Rule.CURRENT, ", SafeDllSearchMode on, the default"));
        for (String entry : split(host.path, ";")) {
            if (!entry.isEmpty()) {
                search.add(new Place(host.files.path(entry), Place.Rule.PATH, ""));
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
        if (host.javaHome.getName().equalsIgnoreCase("jre") && jdk != null
                && host.files.find(new File(jdk, "bin"), "java.exe") != null) {
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
    boolean passesOver(Node.Candidate candidate) {
        return candidate.state == Node.Candidate.State.OTHER_MACHINE;
    }

    @Override
    void started(Node root) {
        manifest(root);
    }

    /** Looks where Windows looks, in its order, up to the first file it takes. */
    @Override
    Node resolve(String name, Node importer) {
        Node node = new Node(name, importer);
        if (find(node, name, importer)) {
            if (node.image != null) {
                manifest(node);
            }
            return node;
        }
        for (File folder : assumedPrograms) {
            File file = host.files.find(folder, name);
            if (file != null) {
                node.assumedOnly = file;
                return node;
            }
        }
        File home = importer.file == null ? null : importer.file.getParentFile();
        node.beside = home == null ? null : host.files.find(home, name);
        for (String entry : split(host.path, ";")) {
            if (entry.length() > 2 && entry.startsWith("\"") && entry.endsWith("\"")
                    && host.files.find(host.files.path(entry.substring(1, entry.length() - 1)), name) != null) {
                node.quotedEntry = entry;
            } else if (entry.matches(".*%[^%;]+%.*")) {
                node.unexpanded.add(entry);
            }
        }
        return node;
    }

    /** The search proper: true when it ends at a file, which the node then holds. */
    private boolean find(Node node, String name, Node importer) {
        for (Node.Use use : importer.assemblies) {
            File file = use.folder == null ? null : host.files.find(use.folder, name);
            if (file != null && offer(node, new Node.Candidate(file, new Place(use.folder, Place.Rule.ASSEMBLY,
                    use.assembly.name)))) {
                return true;
            }
        }
        for (File module : host.loaded) {
            if (module.getName().equalsIgnoreCase(name)
                    && offer(node, new Node.Candidate(module, new Place(module.getParentFile(), Place.Rule.LOADED, "")))) {
                return true;
            }
        }
        List<Place> order = KNOWN_DLLS.contains(key(name)) && systemFolder != null
                ? Arrays.asList(new Place(systemFolder, Place.Rule.KNOWN_DLL, ", assumed: the registry is not read"))
                : search;
        for (Place place : order) {
            File file = host.files.find(place.folder, name);
            if (file != null && offer(node, new Node.Candidate(file, place))) {
                return true;
            }
        }
        return false;
    }

    /**
     * The DLL's manifest, resource 2, which the loader reads for the DLL's
     * static imports (1 is read for a program only, 3 for a DLL's
     * isolation-aware calls, not for its imports), and each assembly it
     * names, resolved as SideBySide does. A manifest that is no well-formed
     * XML makes Windows refuse the DLL.
     */
    private void manifest(Node node) {
        Map<Integer, byte[]> manifests = node.image.manifests;
        byte[] read = manifests.get(DLL_MANIFEST);
        if (read == null) {
            for (Map.Entry<Integer, byte[]> other : manifests.entrySet()) {
                node.unreadManifest = other.getKey();
                try {
                    node.unreadAssemblies.addAll(Manifest.parse(other.getValue()).dependencies);
                } catch (Manifest.Malformed e) {
                    // Not read by the loader either way.
                }
                return;
            }
            return;
        }
        List<Assembly> dependencies;
        try {
            dependencies = Manifest.parse(read).dependencies;
        } catch (Manifest.Malformed e) {
            node.malformedManifest = e.getMessage();
            return;
        }
        for (Assembly assembly : dependencies) {
            Node.Use use = new Node.Use(assembly);
            sideBySide.resolve(use, node.file == null ? null : node.file.getParentFile());
            node.assemblies.add(use);
        }
    }

    /**
     * Each DLL must export what each of its importers imports from it, a
     * DLL taken once checked again for every later importer; an export
     * forwarded to another DLL needs that DLL, found as a DLL that the
     * forwarding one imports, and the function in it.
     */
    @Override
    void check(Node root) {
        for (Node node : inLoadOrder(root)) {
            Node importer = node.importer;
            List<String> wanted = importer == null || importer.image == null ? null : importer.image.imports.get(node.name);
            if (!node.loadable() || wanted == null) {
                continue;
            }
            for (String function : wanted) {
                Node.Link link = new Node.Link(function);
                link.forward = node.image.exports.get(function);
                link.satisfied = node.image.exports.containsKey(function) && (link.forward == null || forward(node, link));
                node.links.add(link);
            }
        }
    }

    /** Follows a forwarder, and any the DLL it names forwards on, to a function that is there. */
    private boolean forward(Node node, Node.Link link) {
        Node from = node;
        String forward = link.forward;
        for (int depth = 0; forward != null && depth < MAX_FORWARDS; depth++) {
            int dot = forward.lastIndexOf('.');
            if (dot <= 0) {
                return false;
            }
            String dll = forward.substring(0, dot);
            String name = dll.contains(".") ? dll : dll + ".dll";
            if (skipped(name)) {
                return true;
            }
            Node target = taken.get(key(name));
            if (target == null) {
                target = resolve(name, from);
                taken.put(key(name), target);
                from.children.add(target);
            }
            if (depth == 0) {
                link.target = target;
            }
            String function = forward.substring(dot + 1);
            String export = function.matches("#[0-9]{1,5}") ? Image.ordinal(Long.parseLong(function.substring(1))) : function;
            if (!target.loadable() || !target.image.exports.containsKey(export)) {
                return false;
            }
            from = target;
            forward = target.image.exports.get(export);
        }
        return forward == null;
    }
}
