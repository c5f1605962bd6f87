package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * One library of the dependency tree as a loader builds it: where the file
 * was found, what was passed over and why, what it is, and for each function
 * imported from it whether it is there and by what. Plain data: the
 * diagnosis judges it, the report prints it.
 */
final class Node {
    /** A file the search met, and what the loader makes of it. */
    static final class Candidate {
        /** What a file is to the loader that meets it. */
        enum State {
            /** A library this JVM can load. */
            LOADABLE,
            /** A library of the loader's format for another machine or bitness: both loaders pass it over. */
            OTHER_MACHINE,
            /** A library of the other system's format. */
            OTHER_SYSTEM,
            UNREADABLE,
            /** A folder, a named pipe or a device. */
            NOT_A_FILE,
            /** Not a library, or one whose headers are broken. */
            CORRUPT
        }

        final File file;
        final Place place;
        Image image;
        State state;
        /** What is wrong with it, completing a sentence that begins with its path; "" when it is loadable. */
        String problem = "";
        /** The loader's own words for a file it stops at ("invalid ELF header"), or null when not known. */
        String loaderWords;

        Candidate(File file, Place place) {
            this.file = file;
            this.place = place;
        }
    }

    /** A function imported from this node, and whether it is satisfied, by this file or the one it forwards to. */
    static final class Link {
        final String function;
        /** "OTHER.function" when this file forwards it, else null. */
        String forward;
        /** The library the forwarder names, as found; null for one the loader resolves without a file (an API set). */
        Node target;
        boolean satisfied;

        Link(String function) {
            this.function = function;
        }
    }

    /** An assembly that this file's manifest names, and how Windows resolves it. */
    static final class Use {
        final Assembly assembly;
        /** The version looked for: the manifest's, or the one a publisher policy sends it to. */
        String version;
        /** The publisher policy that sends it there, or null. */
        File policy;
        /** The folder that holds it, or null: not found. */
        File folder;
        /** When a policy sends it to a version that is not found: the folder of the version the manifest names, if any. */
        File ownVersion;
        String how = "";
        List<File> otherArchitectures = new ArrayList<>();

        Use(Assembly assembly) {
            this.assembly = assembly;
            this.version = assembly.version;
        }
    }

    final String name;
    final Node importer;
    /** The file taken, or null when none is. */
    File file;
    Place place;
    /** The file read in full, when taken and readable. */
    Image image;
    /** The file taken that this JVM cannot load, or null if there is none. */
    Candidate unusable;
    /** Taken already, higher in the tree: its own imports are listed there. */
    boolean again;
    final List<Candidate> passed = new ArrayList<>();
    /** Windows: found nowhere Windows looks, but beside its importer, or only in an assumed program folder. */
    File beside;
    File assumedOnly;
    /** Windows: PATH entries that would hold it but for quotes, or that hold an unexpanded %VAR%. */
    String quotedEntry;
    final List<String> unexpanded = new ArrayList<>();
    final List<Link> links = new ArrayList<>();
    /** Windows: why Windows refuses its manifest (resource 2: not well-formed XML), or null. */
    String malformedManifest;
    /** Windows: a manifest resource that Windows does not read for its imports (1 or 3) when it has no 2, else 0. */
    int unreadManifest;
    /** The assemblies that manifest names. */
    final List<Assembly> unreadAssemblies = new ArrayList<>();
    final List<Use> assemblies = new ArrayList<>();
    /** Linux: the symbols it takes that no library of the tree defines. */
    final List<String> undefined = new ArrayList<>();
    /** Linux: the symbol versions it needs that the library providing them does not define, by that library. */
    final Map<Node, List<String>> missingVersions = new LinkedHashMap<>();
    /** Where its own imports are looked for (ld.so: each object's run paths count). */
    List<Place> places;
    final List<Node> children = new ArrayList<>();

    Node(String name, Node importer) {
        this.name = name;
        this.importer = importer;
    }

    /** "JQelAgtMsg.dll -> libqelagtapi.dll -> foo.dll". */
    String chain() {
        return importer == null ? name : importer.chain() + " -> " + name;
    }

    /** Its own imports are not followed: a library of the system's own. */
    boolean system() {
        return place != null && place.rule.system();
    }

    /** Taken, and this JVM can load it. */
    boolean loadable() {
        return file != null && unusable == null && image != null;
    }

    List<String> lacking() {
        List<String> lacking = new ArrayList<>();
        for (Link link : links) {
            if (!link.satisfied) {
                lacking.add(link.function + (link.forward == null ? "" : " (forwarded to " + link.forward + ")"));
            }
        }
        return lacking;
    }
}
