package jqel.doctor;

import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;

/**
 * The loading doctor. Run with the same java, PATH and -Djava.library.path
 * (or -Djqel.library) as the application, it says what keeps the library
 * from loading: the JVM; where it looked for the library and what the file
 * found is built for; the side-by-side assemblies a Windows DLL's manifest
 * names; every library the file needs, read from the file itself, and what
 * those need in turn, each found where the system's loader finds it, in the
 * loader's own order, and checked for what its importer takes from it. Then
 * it loads the library for real, unless the file is one the JVM cannot
 * load. Its last line names the first problem and its remedy, with the
 * section of the deployment guide that explains it; the exit status is 0
 * only if the library loaded.
 */
public final class Doctor {
    // The sections of DEPLOYMENT.md that remedies point to.
    static final String DEPLOYING = "Deploying JQelAgtMsg";
    static final String BESIDE = "What must sit beside it";
    static final String LOADING = "How a Java program loads it";
    static final String FAILURES = "When loading fails";
    static final String NOT_ON_PATH = "The library is not in any folder of java.library.path";
    static final String MISSING = "A library it depends on is missing";
    static final String OTHER_BITNESS = "A library it depends on is built for the other bitness";
    static final String LACKS = "A library it depends on lacks a function";
    static final String LIBRARY_32 = "A 32-bit library in a 64-bit JVM";
    static final String LIBRARY_64 = "A 64-bit library in a 32-bit JVM";

    private final Host host;
    private final PrintStream out;
    private final String system;
    /** Linux: the libraries the JVM's process has loaded, which ld.so takes before it searches. */
    private final List<File> loaded;
    /** The first problem found, as the verdict states it; null while there is none. */
    private String problem;

    Doctor(Host host, PrintStream out) {
        this.host = host;
        this.out = out;
        this.system = host.windows ? "Windows" : "Linux";
        this.loaded = host.windows ? new ArrayList<File>() : Places.loaded();
    }

    public static void main(String[] args) {
        Doctor doctor = new Doctor(new Host(System.getProperties(), System.getenv()), System.out);
        System.exit(doctor.run() ? 0 : 1);
    }

    /** Prints the examination and the verdict; true if the library loaded. */
    boolean run() {
        out.println("JVM: " + host.jvm);
        File library = findLibrary();
        Image image = library == null ? null : examine(library);
        boolean loaded = false;
        if (image != null) {
            List<File> assemblies = host.windows ? sideBySide(image, library.getName()) : new ArrayList<File>();
            dependencies(image, library, assemblies);
            loaded = load(library);
        }
        out.println("Verdict: " + (loaded ? "the library loaded." : problem));
        return loaded;
    }

    /** Records a problem, unless an earlier one was found. */
    private void problem(String what, String remedy, String section) {
        if (problem == null) {
            problem = what + ": " + remedy + " (see \"" + section + "\" in DEPLOYMENT.md).";
        }
    }

    /** The library file as JQelLibrary would load it: by jqel.library, or by name as System.loadLibrary searches. */
    private File findLibrary() {
        if (!host.libraryProperty.isEmpty()) {
            File file = new File(host.libraryProperty);
            out.println("Library: jqel.library names " + file);
            if (!file.isAbsolute()) {
                problem("jqel.library is not a full path: " + file, "give the library file's full path", LOADING);
                return null;
            }
            if (!file.exists()) {
                problem("jqel.library names " + file + ", which does not exist", "give the library file's full path", LOADING);
                return null;
            }
            return file;
        }
        String name = host.libraryFileName();
        out.println("Library: " + name + ", looked for in the JVM's own folders, then in those of java.library.path:");
        List<String> folders = parsePath(host.bootLibraryPath);
        int boot = folders.size();
        folders.addAll(parsePath(host.libraryPath));
        if (folders.size() == boot) {
            out.println("  java.library.path is empty");
        }
        for (int i = 0; i < folders.size(); i++) {
            File folder = new File(folders.get(i));
            File file = new File(folder, name);
            String where = "  " + folder + (i < boot ? " (sun.boot.library.path)" : "");
            if (file.exists()) {
                out.println(where + ": found");
                return file;
            }
            out.println(where + (folder.isDirectory() ? ": not there" : ": no such folder"));
        }
        problem(name + " is in no folder of java.library.path",
                "put it in one, name its folder in -Djava.library.path, or give its full path in -Djqel.library", NOT_ON_PATH);
        return null;
    }

    /** The folders of a library path as the JVM splits it: an empty entry is the current folder. */
    private static List<String> parsePath(String path) {
        List<String> folders = new ArrayList<>();
        for (String entry : Places.split(path, File.pathSeparator)) {
            folders.add(entry.isEmpty() ? "." : entry);
        }
        return folders;
    }

    /**
     * Reads the library file in full; null if this JVM cannot load it, and
     * then nothing more is judged: the file is the problem.
     */
    private Image examine(File library) {
        File file = canonical(library);
        String shown = file.equals(library.getAbsoluteFile()) ? library.toString() : library + " -> " + file;
        if (file.isDirectory()) {
            out.println("File: " + shown + ": a folder");
            problem(library + " is a folder, not the library", "put the library file in its place", LOADING);
            return null;
        }
        Image image;
        try {
            image = Image.read(file, true);
        } catch (BadFile e) {
            out.println("File: " + shown + " " + e.getMessage());
            problem(library + " " + e.getMessage(), remedy(e), e.kind == BadFile.Kind.NOT_A_FILE ? LOADING : DEPLOYING);
            return null;
        }
        String mismatch = mismatch(image);
        out.println("File: " + shown + ": " + image.describe() + (mismatch == null ? ", which this JVM can load" : ", " + mismatch));
        if (mismatch != null) {
            problem(library + " is " + mismatch, remedy(image), section(image));
            return null;
        }
        return image;
    }

    /** What to do about a library file that cannot be used. */
    private String remedy(BadFile e) {
        switch (e.kind) {
            case UNREADABLE:
                return "let the user that runs Java read it";
            case NOT_A_FILE:
                return host.libraryProperty.isEmpty() ? "put the library file in its place" : "give the library file's full path";
            default:
                return "copy it again from the release archive, where " + (host.windows
                        ? "certutil -hashfile " + host.libraryFileName() + " SHA256 must print the sum that SHA256SUMS lists"
                        : "sha256sum -c SHA256SUMS checks it");
        }
    }

    /** Why this JVM cannot load a file of this format and machine, or null if it can. */
    private String mismatch(Image image) {
        if (!image.format.equals(host.libraryFormat())) {
            return "a " + (image.format.equals(Image.PE) ? "Windows" : "Linux") + " library, while this JVM runs on " + system;
        }
        if (!image.runsOn(host.arch, host.bits)) {
            return "built for " + image.machine + " (" + image.bits + "-bit), the JVM for " + host.describeJvm();
        }
        return null;
    }

    private String remedy(Image library) {
        if (!library.format.equals(host.libraryFormat())) {
            return "use " + host.libraryFileName() + ", the library built for " + system;
        }
        if (library.bits != host.bits) {
            return "run the program with a " + library.bits + "-bit JVM";
        }
        return "run the program with a JVM for " + library.machine;
    }

    private String section(Image library) {
        if (!library.format.equals(host.libraryFormat()) || library.bits == host.bits) {
            return BESIDE;
        }
        return library.bits == 32 ? LIBRARY_32 : LIBRARY_64;
    }

    /**
     * The side-by-side assemblies the DLL's manifest names, each looked for
     * under the Windows folder's WinSxS. Returns the folders found.
     */
    private List<File> sideBySide(Image image, String name) {
        List<File> found = new ArrayList<>();
        if (image.manifest == null) {
            out.println("Manifest: none");
            return found;
        }
        List<Assembly> assemblies = Assembly.dependencies(image.manifest);
        if (assemblies.isEmpty()) {
            out.println("Manifest: names no side-by-side assembly");
        }
        File winSxS = host.windowsFolder == null ? null : new File(host.windowsFolder, "WinSxS");
        for (Assembly assembly : assemblies) {
            File folder = winSxS == null ? null : assembly.find(winSxS);
            String where = winSxS == null ? "WinSxS (the Windows folder is unknown: SystemRoot is not set)" : winSxS.toString();
            List<File> others = winSxS == null || folder != null ? new ArrayList<File>() : assembly.otherArchitectures(winSxS);
            out.println("Manifest: side-by-side assembly " + assembly.describe() + ": "
                    + (folder != null ? folder : "not in " + where) + (others.isEmpty() ? "" : "; passed over " + join(others)));
            if (folder != null) {
                found.add(folder);
            } else {
                problem("the side-by-side assembly " + assembly.describe() + " that the manifest of " + name
                        + " names is not in " + where + (others.isEmpty() ? "" : "; only one for another processor is there, at "
                        + join(others)), "install " + assembly.installer(), BESIDE);
            }
        }
        return found;
    }

    /** A library of the tree of what the library needs: where the loader finds it, and what it is. */
    private static final class Node {
        final String name;
        final Node importer;
        /** What the listing says of it, after its name; null for the library itself. */
        String line;
        /** The file the loader takes, or null; and the folder it is taken from (null: a side-by-side assembly). */
        File file;
        Places.Place place;
        /** The file read in full, when the loader takes it; null otherwise. */
        Image image;
        /** The system's own library: what it needs is not followed. */
        boolean system;
        /** Where the loader looks for what it needs (Linux: each library's own run path counts). */
        List<Places.Place> places;
        final List<Node> children = new ArrayList<>();

        Node(String name, Node importer) {
            this.name = name;
            this.importer = importer;
        }

        /** "JQelAgtMsg.dll -> libqelagtapi.dll -> foo.dll". */
        String chain() {
            return importer == null ? name : importer.chain() + " -> " + name;
        }

        /** The chain to a library that this one needs, in parentheses, when it lies below the first level. */
        String below(String needed) {
            return importer == null ? "" : " (" + chain() + " -> " + needed + ")";
        }
    }

    /** A file that the loader meets in its search, and why it cannot take it (null if it can). */
    private static final class Candidate {
        final File file;
        final Places.Place place;
        Image image;
        String why;
        BadFile.Kind bad;
        /** A library of this system's format, for another machine. */
        boolean otherMachine;

        Candidate(File file, Places.Place place) {
            this.file = file;
            this.place = place;
        }
    }

    /**
     * Every library the file needs and what those need in turn: each found
     * as the loader finds it, breadth-first as the loader loads them, once
     * by name; the system's own are not followed. On Windows, each file
     * taken must export what its importer imports from it; on Linux, the
     * symbols every library takes must be defined by one loaded with it.
     */
    private void dependencies(Image image, File library, List<File> assemblies) {
        File home = canonical(library).getParentFile();
        List<String> unread = new ArrayList<>();
        List<Places.Place> places = host.windows ? Places.windows(host) : Places.linux(host, image, home, unread);
        printPlaces(places, unread);
        if (host.windows && host.programNamed && !host.program.isFile()) {
            problem("jqel.doctor.program names " + host.program + ", which is no file",
                    "give the full path of the program's .exe", FAILURES);
        }
        Node root = new Node(library.getName(), null);
        root.file = canonical(library);
        root.image = image;
        root.places = places;
        Map<String, Node> seen = new LinkedHashMap<>();
        seen.put(key(root.name), root);
        Deque<Node> queue = new ArrayDeque<>();
        queue.add(root);
        boolean missing = false;
        while (!queue.isEmpty()) {
            Node importer = queue.remove();
            for (String name : importer.image.needed) {
                if (host.windows && isApiSet(name)) {
                    continue;
                }
                Node node = seen.get(key(name));
                boolean first = node == null;
                if (first) {
                    node = resolve(name, importer, assemblies, home);
                    seen.put(key(name), node);
                    importer.children.add(node);
                    missing |= node.file == null;
                    if (node.image != null && !node.system) {
                        queue.add(node);
                    }
                }
                if (host.windows) {
                    checkImports(importer, name, node, first);
                }
            }
        }
        out.println("Needs (" + (host.windows ? "its import table" : "its DT_NEEDED entries")
                + "; indented below each, what that one needs, but for the system's own):");
        print(root.children, "  ");
        if (!host.windows) {
            checkSymbols(seen, missing);
        }
    }

    /** A library's name as the loader compares names: Windows ignores case. */
    private String key(String name) {
        return host.windows ? name.toLowerCase(Locale.ROOT) : name;
    }

    /** Windows resolves these API sets to its own DLLs, by no file of that name. */
    private static boolean isApiSet(String name) {
        String lower = name.toLowerCase(Locale.ROOT);
        return lower.startsWith("api-ms-win-") || lower.startsWith("ext-ms-");
    }

    private void print(List<Node> nodes, String indent) {
        for (Node node : nodes) {
            out.println(indent + node.name + ": " + node.line);
            print(node.children, indent + "  ");
        }
    }

    private void printPlaces(List<Places.Place> places, List<String> unread) {
        out.println(system + (host.windows ? " looks for the DLLs it imports in:" : " looks for the libraries it needs in:"));
        List<String> defaults = new ArrayList<>();
        for (Places.Place place : places) {
            if (place.why.equals(Places.DEFAULT)) {
                defaults.add(place.folder.toString());
            } else {
                out.println("  " + place.folder + " (" + place.why + (place.folder.isDirectory() ? ")" : "; no such folder)"));
            }
        }
        if (host.windows && host.path == null) {
            out.println("  PATH: not set");
        } else if (host.windows && Places.split(host.path, ";").isEmpty()) {
            out.println("  PATH: empty");
        }
        if (!host.windows) {
            if (host.ldLibraryPath == null || host.ldLibraryPath.isEmpty()) {
                out.println("  LD_LIBRARY_PATH: not set");
            }
            out.println("  " + Places.DEFAULT + ": " + String.join(", ", defaults));
            for (String file : unread) {
                out.println("  not read: " + file);
            }
        }
    }

    /** Finds a library the importer needs as the loader does, and judges what it finds. */
    private Node resolve(String name, Node importer, List<File> assemblies, File home) {
        Node node = new Node(name, importer);
        List<Candidate> passed = new ArrayList<>();
        Candidate taken = search(name, importer.places, assemblies, passed);
        String passedOver = "";
        for (Candidate candidate : passed) {
            passedOver += "; passed over " + candidate.file + ", which " + candidate.why;
        }
        if (taken == null) {
            node.line = "not found" + passedOver;
            notFound(node, passed, home);
            return node;
        }
        if (taken.why != null) {
            node.line = taken.file + ", which " + taken.why + passedOver;
            problem(taken.file + ", the first " + name + " that " + system + " finds, " + taken.why
                    + importer.below(name), taken.bad == BadFile.Kind.UNREADABLE ? "let the user that runs Java read it"
                            : "repair the installation it comes from, or " + instead(taken.place, name), MISSING);
            return node;
        }
        node.file = taken.file;
        node.place = taken.place;
        String why = taken.place == null ? "" : taken.place.why;
        node.system = why.equals(Places.SYSTEM) || why.equals(Places.DEFAULT) || why.equals(Places.LOADED);
        node.line = taken.file + ", " + taken.image.describe() + (why.equals(Places.LOADED) ? ", " + why : "") + passedOver;
        if (node.system && host.windows) {
            node.image = taken.image;
            return node;
        }
        try {
            node.image = Image.read(taken.file, true);
        } catch (BadFile e) {
            node.line = taken.file + ", which " + e.getMessage() + passedOver;
            problem(taken.file + ", the " + name + " that " + system + " takes, " + e.getMessage() + importer.below(name),
                    "repair the installation it comes from, or " + instead(taken.place, name), MISSING);
            return node;
        }
        if (!host.windows) {
            List<String> unread = new ArrayList<>();
            node.places = Places.linux(host, node.image, taken.file.getParentFile(), unread);
        } else {
            node.places = importer.places;
        }
        return node;
    }

    /**
     * The file the loader takes for a name: on Windows, the first of the
     * name (a DLL of a side-by-side assembly from its folder) that is not a
     * DLL for another machine, which it passes over; on Linux, one the
     * process has loaded already, else the first it can load, passing over
     * any other. Files passed over are added to {@code passed}; null if none
     * is taken.
     */
    private Candidate search(String name, List<Places.Place> places, List<File> assemblies, List<Candidate> passed) {
        List<Candidate> candidates = new ArrayList<>();
        for (File assembly : host.windows ? assemblies : new ArrayList<File>()) {
            File file = Places.entry(assembly, name, true);
            if (file != null && file.isFile()) {
                candidates.add(new Candidate(file, null));
            }
        }
        File already = Places.loadedAs(loaded, name);
        if (already != null) {
            candidates.add(new Candidate(already, new Places.Place(already.getParentFile(), Places.LOADED)));
        }
        for (Places.Place place : places) {
            File file = host.windows ? Places.entry(place.folder, name, true) : new File(place.folder, name);
            if (file != null && (host.windows ? file.isFile() : file.exists())) {
                candidates.add(new Candidate(file, place));
            }
        }
        for (Candidate candidate : candidates) {
            try {
                candidate.image = Image.read(candidate.file, false);
                String mismatch = mismatch(candidate.image);
                candidate.why = mismatch == null ? null : "is " + mismatch;
                candidate.otherMachine = mismatch != null && candidate.image.format.equals(host.libraryFormat());
            } catch (BadFile e) {
                candidate.why = e.getMessage();
                candidate.bad = e.kind;
            }
            if (candidate.why == null || host.windows && !candidate.otherMachine) {
                return candidate;
            }
            passed.add(candidate);
        }
        return null;
    }

    /**
     * The verdict on a library that the loader finds nowhere. Copies for
     * another machine that it passed over are the likely cause.
     */
    private void notFound(Node node, List<Candidate> passed, File home) {
        String name = node.name;
        String chain = node.importer.below(name);
        boolean first = node.importer.importer == null;
        boolean otherMachines = !passed.isEmpty() && passed.get(0).otherMachine;
        String it = otherMachines ? "one built for " + host.describeJvm() : "it";
        String remedy = host.windows ? "put the folder that holds " + it + " on PATH"
                : first ? "put " + it + " in " + home + ", the library's folder, or name its folder in LD_LIBRARY_PATH"
                : "name the folder that holds " + it + " in LD_LIBRARY_PATH";
        File beside = host.windows && first ? Places.entry(home, name, true) : null;
        if (otherMachines) {
            Image copy = passed.get(0).image;
            List<File> files = new ArrayList<>();
            for (Candidate candidate : passed) {
                files.add(candidate.file);
            }
            problem(name + " is in none of the folders " + system + " looks in; only "
                    + (copy.bits != host.bits ? "a " + copy.bits + "-bit " + name : "a " + name + " built for " + copy.machine)
                    + (passed.size() > 1 ? " and others not for this JVM are there, at " : " is there, at ") + join(files)
                    + ", which " + system + " passes over" + chain, remedy, OTHER_BITNESS);
        } else if (!passed.isEmpty()) {
            Candidate copy = passed.get(0);
            problem(system + " passes over every " + name + " it finds; the first, " + copy.file + ", " + copy.why + chain,
                    copy.bad == BadFile.Kind.UNREADABLE ? "let the user that runs Java read it" : remedy, MISSING);
        } else if (beside != null) {
            node.line = "not found; there is one beside " + node.importer.name + ", where Windows does not look";
            problem(name + " is beside " + node.importer.name + " in " + home + ", where Windows does not look for it",
                    "put " + home + " on PATH", BESIDE);
        } else {
            problem(name + " is in none of the folders " + system + " looks in" + chain, remedy, MISSING);
        }
    }

    /**
     * How to make the loader take the right file instead of this one, by
     * where it is: a folder it looks in earlier, or the order of PATH or
     * LD_LIBRARY_PATH. Never by replacing the file: it may be another
     * product's.
     */
    private String instead(Places.Place place, String name) {
        if (place == null) {
            return "install its side-by-side assembly again";
        }
        String folder = place.folder.toString();
        if (place.why.equals(Places.PATH)) {
            return "put the folder of the right " + name + " on PATH before " + folder;
        }
        if (place.why.equals(Places.LD_LIBRARY_PATH)) {
            return "name the folder of the right " + name + " in LD_LIBRARY_PATH before " + folder;
        }
        if (place.why.equals(Places.DEFAULT) || place.why.startsWith("RUNPATH")) {
            return "name the folder of the right " + name + " in LD_LIBRARY_PATH, which comes before " + folder;
        }
        if (place.why.equals(Places.CURRENT)) {
            return "start the program in another folder: Windows looks in the current folder before PATH";
        }
        return system + " looks in " + folder + " (" + place.why + ") before " + (host.windows ? "PATH" : "LD_LIBRARY_PATH")
                + ": find out which installation put it there before you move it";
    }

    /** Windows: the file taken for a name must export all that the importer imports from it. */
    private void checkImports(Node importer, String name, Node node, boolean first) {
        List<String> wanted = importer.image.imports.get(name);
        if (node.image == null || node.system || wanted == null) {
            return;
        }
        List<String> lacking = new ArrayList<>();
        for (String function : wanted) {
            if (!node.image.exports.contains(function)) {
                lacking.add(function);
            }
        }
        if (lacking.isEmpty()) {
            return;
        }
        if (first) {
            node.line += "; lacks " + String.join(", ", lacking);
        } else {
            Node again = new Node(name, importer);
            again.line = "as above; lacks " + String.join(", ", lacking);
            importer.children.add(again);
        }
        problem(node.file + " lacks " + String.join(", ", lacking) + ", which " + importer.name + " imports from it"
                + importer.below(name),
                "it is from another version of the product than " + importer.name + "; " + instead(node.place, name), LACKS);
    }

    /**
     * Linux: every symbol that a library of the tree takes from others must
     * be defined by one of them. Not checked while one of them is missing.
     */
    private void checkSymbols(Map<String, Node> tree, boolean missing) {
        if (missing) {
            out.println("Symbols: not checked, since a library is missing");
            return;
        }
        Set<String> defined = new HashSet<>();
        for (Node node : tree.values()) {
            if (node.image != null) {
                defined.addAll(node.image.exports);
            }
        }
        boolean any = false;
        for (Node node : tree.values()) {
            if (node.image == null || node.system) {
                continue;
            }
            List<String> undefined = new ArrayList<>();
            for (String symbol : node.image.imports.getOrDefault("", new ArrayList<String>())) {
                if (!defined.contains(symbol)) {
                    undefined.add(symbol);
                }
            }
            if (undefined.isEmpty()) {
                continue;
            }
            any = true;
            List<File> providers = new ArrayList<>();
            for (Node child : node.children) {
                if (!child.system && child.file != null) {
                    providers.add(child.file);
                }
            }
            String symbols = String.join(", ", undefined);
            out.println("Symbols: " + node.file + " needs " + symbols + ", which no library loaded with it defines");
            problem(node.file + " needs " + symbols + ", which no library loaded with it defines"
                    + (node.importer == null ? "" : " (" + node.chain() + ")"), providers.isEmpty()
                    ? "it was built against a library it does not name"
                    : String.join(" or ", names(providers)) + " is from another version of the product; take the product's"
                    + " libraries from one installation of the version that " + node.name + " is made for", LACKS);
        }
        if (!any) {
            out.println("Symbols: each one needed is defined");
        }
    }

    private static String join(List<File> files) {
        return String.join(", ", names(files));
    }

    private static List<String> names(List<File> files) {
        List<String> names = new ArrayList<>();
        for (File file : files) {
            names.add(file.toString());
        }
        return names;
    }

    /** Loads the library as System.load does for JQelLibrary, and says how that ended. */
    private boolean load(File library) {
        try {
            System.load(library.getAbsolutePath());
            out.println("Load: loaded");
            return true;
        } catch (UnsatisfiedLinkError e) {
            out.println("Load: " + e);
            problem("nothing the doctor checks is wrong, but the JVM cannot load the library",
                    "look up its error, on the line above, in \"" + FAILURES + "\"", FAILURES);
            return false;
        }
    }

    private static File canonical(File file) {
        try {
            return file.getCanonicalFile();
        } catch (IOException e) {
            return file.getAbsoluteFile();
        }
    }
}
