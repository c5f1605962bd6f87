package jqel.doctor;

import java.io.File;
import java.io.IOException;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A model of the system's loader: from the library file, the tree of every
 * library it needs and what those need in turn, each found where the loader
 * finds it, breadth-first as the loader loads them, once by name. A library
 * needed again is a node of its own, marked {@link Node#again}, so that what
 * each importer takes from it is checked. What the system's own libraries
 * need is not followed.
 */
abstract class Loader {
    final Host host;
    /** Every node taken so far, by name as the loader compares names. */
    final Map<String, Node> taken = new LinkedHashMap<>();

    Loader(Host host) {
        this.host = host;
    }

    static Loader of(Host host) {
        return host.windows ? new WindowsLoader(host) : new LinuxLoader(host);
    }

    /** The places the loader looks in for what this node needs, in its order. */
    abstract List<Place> places(Node node);

    /** Finds one library that the importer needs, as the loader does. */
    abstract Node resolve(String name, Node importer);

    /** After the tree is built: the checks that need all of it (functions, symbols). */
    abstract void check(Node root);

    /** A library's name as the loader compares names. */
    abstract String key(String name);

    /** Whether the loader, meeting this file in its search, goes on to the next (true) or stops at it. */
    abstract boolean passesOver(Node.Candidate candidate);

    /** Names the loader resolves without a file (Windows' API sets). */
    boolean skipped(String name) {
        return false;
    }

    /**
     * The library file as the JVM takes it from {@code place}, and, if this
     * JVM can load it, the tree below it. Java stops at the file it finds:
     * one it cannot load is the root's fault, and nothing more is followed.
     */
    Node build(File library, Place place) {
        Node root = new Node(library.getName(), null);
        Node.Candidate candidate = new Node.Candidate(library, place);
        judge(candidate);
        accept(root, candidate);
        if (root.unusable != null) {
            return root;
        }
        // Java loads the file by its canonical path, whose folder is $ORIGIN.
        root.file = canonical(library);
        root.places = places(root);
        started(root);
        taken.put(key(root.name), root);
        Deque<Node> queue = new ArrayDeque<>();
        queue.add(root);
        while (!queue.isEmpty()) {
            Node importer = queue.remove();
            for (String name : importer.image.needed) {
                if (skipped(name)) {
                    continue;
                }
                Node node = taken.get(key(name));
                if (node != null) {
                    importer.children.add(again(node, name, importer));
                    continue;
                }
                node = resolve(name, importer);
                importer.children.add(node);
                taken.put(key(name), node);
                if (node.loadable() && !node.system()) {
                    queue.add(node);
                }
            }
        }
        check(root);
        return root;
    }

    /** A library taken already, as another importer needs it: the same file, with links of its own. */
    private static Node again(Node node, String name, Node importer) {
        Node again = new Node(name, importer);
        again.file = node.file;
        again.place = node.place;
        again.image = node.image;
        again.unusable = node.unusable;
        again.again = true;
        return again;
    }

    /** Called for the library itself before its imports are followed. */
    void started(Node root) {
    }

    /**
     * A file the search meets for {@code node}: judged, then taken into the
     * node when this JVM can load it or the loader stops at it (true: the
     * search ends), or else passed over.
     */
    boolean offer(Node node, Node.Candidate candidate) {
        judge(candidate);
        if (candidate.state != Node.Candidate.State.LOADABLE && passesOver(candidate)) {
            node.passed.add(candidate);
            return false;
        }
        accept(node, candidate);
        return true;
    }

    /** Reads a candidate's headers and sets its state: whether this JVM can load it, and if not, why. */
    void judge(Node.Candidate candidate) {
        try {
            candidate.image = Image.read(candidate.file, false);
            Image image = candidate.image;
            if (!image.format.equals(host.libraryFormat())) {
                candidate.state = Node.Candidate.State.OTHER_SYSTEM;
                candidate.problem = "is a " + (image.format.equals(Image.PE) ? "Windows" : "Linux")
                        + " library, while this JVM runs on " + (host.windows ? "Windows" : "Linux");
            } else if (!image.runsOn(host.arch, host.bits)) {
                candidate.state = Node.Candidate.State.OTHER_MACHINE;
                candidate.problem = "is built for " + image.machine + " (" + image.bits + "-bit), the JVM for "
                        + host.describeJvm();
            } else {
                candidate.state = Node.Candidate.State.LOADABLE;
            }
        } catch (BadFile e) {
            refuse(candidate, e);
        }
    }

    private static void refuse(Node.Candidate candidate, BadFile e) {
        candidate.problem = e.getMessage();
        candidate.loaderWords = e.loaderWords;
        candidate.state = e.kind == BadFile.Kind.UNREADABLE ? Node.Candidate.State.UNREADABLE
                : e.kind == BadFile.Kind.NOT_A_FILE ? Node.Candidate.State.NOT_A_FILE : Node.Candidate.State.CORRUPT;
    }

    /** Takes a candidate into the node and reads it in full; a file that fails to read is the node's fault. */
    void accept(Node node, Node.Candidate candidate) {
        node.file = candidate.file;
        node.place = candidate.place;
        if (candidate.state != Node.Candidate.State.LOADABLE) {
            node.unusable = candidate;
            return;
        }
        try {
            node.image = Image.read(candidate.file, true);
            node.places = places(node);
        } catch (BadFile e) {
            refuse(candidate, e);
            node.unusable = candidate;
        }
    }

    /** The nodes of the tree in the order the loader meets them: breadth-first. */
    static List<Node> inLoadOrder(Node root) {
        List<Node> order = new ArrayList<>();
        order.add(root);
        for (int i = 0; i < order.size(); i++) {
            order.addAll(order.get(i).children);
        }
        return order;
    }

    static File canonical(File file) {
        try {
            return file.getCanonicalFile();
        } catch (IOException e) {
            return file.getAbsoluteFile();
        }
    }

    /** The entries of a list such as PATH; none when it is null or empty. */
    static List<String> split(String list, String separator) {
        List<String> entries = new ArrayList<>();
        if (list != null && !list.isEmpty()) {
            for (String entry : list.split(separator, -1)) {
                entries.add(entry);
            }
        }
        return entries;
    }
}
