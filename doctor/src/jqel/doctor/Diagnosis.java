package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Walks what Java's search and the loader model found, in the order the JVM
 * and the loader meet it, and names the first fault: its kind, the files
 * and the chain of importers, and a remedy that fixes it. Java's own faults
 * and the library file's are judged here, each library of the tree by
 * {@link Dependency}.
 */
final class Diagnosis {
    private final Host host;
    private final JarCopies copies;

    private Diagnosis(Host host, JarCopies copies) {
        this.host = host;
        this.copies = copies;
    }

    /** The first fault, or null when there is none. {@code root} is null when no library file was found. */
    static Fault.Finding first(Host host, JavaSearch search, JarCopies copies, Node root) {
        return new Diagnosis(host, copies).find(search, root);
    }

    private Fault.Finding find(JavaSearch search, Node root) {
        if (search.propertyProblem != null) {
            return Fault.PROPERTY.found(search.propertyProblem).remedy("give the library file's full path");
        }
        if (root == null) {
            String name = host.libraryFileName();
            if (search.quoted != null) {
                return Fault.QUOTED.found(name + " is in no folder of java.library.path: its entry " + search.quoted
                        + " is in quotes, which Java " + host.javaRelease + " keeps as part of the folder's name")
                        .remedy("remove the quotes");
            }
            File current = search.inCurrentFolder;
            if (current != null) {
                return Fault.NOT_ON_PATH.found(name + " is in the current folder, which is not on java.library.path")
                        .remedy(ways("name " + current.getParent() + " in -Djava.library.path",
                                "give -Djqel.library=" + current)).files(current);
            }
            return Fault.NOT_ON_PATH.found(name + " is in no folder of java.library.path")
                    .remedy(ways("put it in one", "name its folder in -Djava.library.path",
                            "give its full path in -Djqel.library"));
        }
        if (root.unusable != null) {
            return library(root);
        }
        if (search.shadowed != null) {
            String what = root.file + ", in the JVM's own folder, comes before " + search.shadowed + " of java.library.path";
            return Fault.IN_JVM_FOLDER.found(what).cause(what + ": Java searches sun.boot.library.path first")
                    .remedy("remove " + root.file + " from the JVM's folder").files(root.file, search.shadowed);
        }
        if (host.windows && host.programNamed && !host.program.isFile()) {
            return Fault.PROGRAM.found("jqel.doctor.program names " + host.program + ", which is no file")
                    .remedy("give the full path of the program's .exe");
        }
        Dependency dependency = new Dependency(host);
        for (Node node : Loader.inLoadOrder(root)) {
            Fault.Finding finding = dependency.judge(node);
            if (finding != null) {
                return finding;
            }
        }
        return null;
    }

    /** The library file itself, which this JVM cannot load. */
    private Fault.Finding library(Node root) {
        Node.Candidate bad = root.unusable;
        String what = root.file + " " + bad.problem;
        if (root.place.rule == Place.Rule.BOOT_PATH) {
            return Fault.IN_JVM_FOLDER.found(root.file + ", in the JVM's own folder, which Java searches before"
                    + " java.library.path, " + bad.problem).remedy("remove it from the JVM's folder").files(root.file);
        }
        boolean byProperty = root.place.rule == Place.Rule.JQEL_LIBRARY;
        switch (bad.state) {
            case NOT_A_FILE:
                return Fault.PROPERTY.found(what).remedy(byProperty ? "give the library file's full path"
                        : "put the library file in its place").files(root.file);
            case UNREADABLE:
                return Fault.UNREADABLE.found(what).remedy("let the user that runs Java read it").files(root.file);
            case CORRUPT:
                return Fault.BAD_LIBRARY.found(what).remedy("copy it again from the release archive, where " + (host.windows
                        ? "certutil -hashfile " + host.libraryFileName() + " SHA256 must print the sum that SHA256SUMS lists"
                        : "sha256sum -c SHA256SUMS checks it")).files(root.file);
            case OTHER_SYSTEM:
                return Fault.WRONG_SYSTEM.found(what).remedy("use " + host.libraryFileName() + ", the library built for "
                        + (host.windows ? "Windows" : "Linux")).files(root.file);
            default:
                break;
        }
        Image image = bad.image;
        if (image.bits == host.bits) {
            return Fault.WRONG_MACHINE.found(what).remedy("use the library built for " + host.describeJvm()).files(root.file);
        }
        String bitness = root.file + " is a " + image.bits + "-bit library, and this JVM is " + host.bits + "-bit";
        String remedy;
        if (host.windows && image.bits == 64) {
            remedy = (byProperty ? "name the 32-bit " : "put the 32-bit ") + host.libraryFileName()
                    + (byProperty ? " in -Djqel.library" : " in its place") + ": the product's DLLs are 32-bit only";
        } else if (byProperty) {
            remedy = "name the library built for " + host.describeJvm() + " in -Djqel.library";
        } else {
            remedy = "run the program with a " + image.bits + "-bit JVM";
        }
        return (image.bits == 32 ? Fault.LIBRARY_32 : Fault.LIBRARY_64).found(bitness).cause(what).remedy(remedy)
                .files(root.file);
    }

    /**
     * The ways to make Java find a library that its search does not, then,
     * where one is made for this platform, the jar that carries it; the
     * folder it is copied to must be one the loader takes.
     */
    private String ways(String... ways) {
        List<String> all = new ArrayList<>(Arrays.asList(ways));
        if (copies.platform != null) {
            all.add("put " + copies.jar() + " on the program's class path"
                    + (copies.refusal == null ? "" : ", naming a folder of this user's alone in -Djqel.native.dir"));
        }
        return String.join(", ", all.subList(0, all.size() - 1)) + ", or " + all.get(all.size() - 1);
    }
}
