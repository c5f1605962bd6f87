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
 * finds it, breadth-first as the loader loads them, once by name. What the
 * system's own libraries need is not followed.
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
        if (root.bad != null) {
            return root;
        }
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
                    Node again = new Node(name, importer);
                    again.file = node.file;
                    again.place = node.place;
                    again.image = node.image;
                    again.bad = node.bad;
                    again.again = true;
                    importer.children.add(again);
                    continue;
                }
                node = resolve(name, importer);
                importer.children.add(node);
                taken.put(key(name), node);
                if (node.image != null && node.bad == null && !node.system()) {
                    queue.add(node);
                }
            }
        }
        check(root);
        return root;
    }

    /** Called for the library itself before its imports are followed. */
    void started(Node root) {
    }

    /**
     * Reads each candidate and returns the first the loader takes: one it
     * can load, or, where the loader stops at it ({@code stopAtBad}), a
     * file of its format that is no library for this machine. The others
     * are added to the node's passed-over list.
     */
    Node.Candidate take(List<Node.Candidate> candidates, Node node, boolean stopAtBad) {
        for (Node.Candidate candidate : candidates) {
            judge(candidate);
            if (candidate.why == null || stopAtBad && !candidate.otherMachine) {
                return candidate;
            }
            node.passed.add(candidate);
        }
        return null;
    }

    /** Reads a candidate's headers, and says why this JVM cannot load it (null: it can). */
    void judge(Node.Candidate candidate) {
        try {
            candidate.image = Image.read(candidate.file, false);
            String mismatch = mismatch(candidate.image);
            candidate.otherMachine = mismatch != null && candidate.image.format.equals(host.libraryFormat());
            candidate.why = mismatch == null ? null : "is " + mismatch;
        } catch (BadFile e) {
            candidate.why = e.getMessage();
            candidate.bad = e.kind;
        }
    }

    /** Takes a candidate into the node and reads it in full; a file that fails to read is the node's fault. */
    void accept(Node node, Node.Candidate candidate) {
        node.file = candidate.file;
        node.place = candidate.place;
        if (candidate.why != null) {
            node.bad = candidate;
            return;
        }
        try {
            node.image = Image.read(candidate.file, true);
            node.places = places(node);
        } catch (BadFile e) {
            candidate.why = e.getMessage();
            candidate.bad = e.kind;
            node.bad = candidate;
        }
    }

    /** Why this JVM cannot load a file of this format and machine, or null if it can. */
    String mismatch(Image image) {
        if (!image.format.equals(host.libraryFormat())) {
            return "a " + (image.format.equals(Image.PE) ? "Windows" : "Linux") + " library, while this JVM runs on "
                    + (host.windows ? "Windows" : "Linux");
        }
        if (!image.runsOn(host.arch, host.bits)) {
            return "built for " + image.machine + " (" + image.bits + "-bit), the JVM for " + host.describeJvm();
        }
        return null;
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
