package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.List;

/**
 * One library of the dependency tree as a loader builds it: where the file
 * was found, what was passed over and why, what it is, and for each function
 * imported from it whether it is there and by what. Plain data: the
 * diagnosis judges it, the report prints it.
 */
final class Node {
    /** A file the search met, and why it was not taken (null if it was). */
    static final class Candidate {
        final File file;
        final Place place;
        Image image;
        String why;
        BadFile.Kind bad;
        /** A library of the loader's format built for another machine. */
        boolean otherMachine;

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
        /** The library the forwarder names, as found. */
        Node target;
        boolean satisfied;

        Link(String function) {
            this.function = function;
        }
    }

    /** An assembly that this file's manifest names, and the folder it resolves to (null: not found). */
    static final class Use {
        final Assembly assembly;
        File folder;
        String how = "";
        List<File> otherArchitectures = new ArrayList<>();

        Use(Assembly assembly) {
            this.assembly = assembly;
        }
    }

    final String name;
    final Node importer;
    /** The file taken, or null when none is. */
    File file;
    Place place;
    /** The file read in full, when taken and readable. */
    Image image;
    /** Why the file taken cannot be loaded; null if it can. */
    Candidate bad;
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
    final List<Use> assemblies = new ArrayList<>();
    /** Linux: the symbols it takes that no library of the tree defines. */
    final List<String> undefined = new ArrayList<>();
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
