package jqel.doctor;

import java.io.File;
import java.io.PrintStream;
import java.io.PrintWriter;
import java.io.StringWriter;
import java.util.ArrayList;
import java.util.List;

/**
 * Prints what Java's search and the loader model found, and the verdict. It
 * judges nothing. A deployer reads the verdict and what to do first, in the
 * words they know; then the details, in the loader's terms; and last the
 * verdict again, on one line, which a terminal shows when the top has
 * scrolled away and a script can read: so the details are held until the
 * run ends ({@link #finish}).
 */
final class Report {
    private final PrintStream out;
    private final Host host;
    private final StringWriter text = new StringWriter();
    /** The details, printed by {@link #finish} after the verdict's summary. */
    private final PrintWriter details = new PrintWriter(text);

    Report(PrintStream out, Host host) {
        this.out = out;
        this.host = host;
    }

    void header(String version) {
        details.println("JVM: " + host.jvm);
        details.println("Doctor: jqel-doctor " + version);
    }

    void search(JavaSearch search) {
        if (!host.libraryProperty.isEmpty()) {
            details.println("Library: jqel.library names " + host.libraryProperty);
            return;
        }
        details.println("Library: " + host.libraryFileName() + ", looked for in the JVM's own folders (sun.boot.library.path),"
                + " then in those of java.library.path:");
        for (JavaSearch.Looked looked : search.looked) {
            String read = looked.place.folder.toString();
            String written = looked.entry.isEmpty() ? " (an empty entry)"
                    : read.equals(looked.entry) ? "" : " (written " + looked.entry + ")";
            details.println("  " + read + written + (looked.place.rule == Place.Rule.BOOT_PATH ? " (sun.boot.library.path)" : "")
                    + ": " + looked.state);
        }
    }

    /** The library file as Java found it, through its links: what it is, and its version as the file records it. */
    void file(File given, Node root) {
        File target = Loader.canonical(given);
        String shown = target.equals(given.getAbsoluteFile()) ? given.toString() : given + " -> " + target;
        Node.Candidate bad = root.unusable;
        String what = bad == null ? root.image.describe() + ", which this JVM can load"
                : bad.image != null ? bad.image.describe() + ", " + bad.problem.replaceFirst("^is ", "")
                : bad.problem;
        details.println("File: " + shown + (bad == null || bad.image != null ? ": " : " ") + what);
        if (root.image != null) {
            details.println("Version: " + (root.image.version != null ? root.image.version : "none recorded in the file"));
        }
    }

    void manifest(Node root) {
        if (!host.windows || root.image == null) {
            return;
        }
        if (root.malformedManifest != null) {
            details.println("Manifest: not well-formed XML, which Windows refuses: " + root.malformedManifest);
        } else if (root.unreadManifest != 0) {
            details.println("Manifest: only resource " + root.unreadManifest + ", which Windows does not read for a DLL's imports");
        } else if (root.image.manifests.get(WindowsLoader.DLL_MANIFEST) == null) {
            details.println("Manifest: none");
        } else if (root.assemblies.isEmpty()) {
            details.println("Manifest: names no side-by-side assembly");
        }
        for (Node.Use use : root.assemblies) {
            details.println("Manifest: side-by-side assembly " + use.assembly.describe() + ": "
                    + (use.policy == null ? "" : "sent to version " + use.version + " by the publisher policy " + use.policy
                    + ", ")
                    + (use.folder != null ? use.folder + (use.how.equals("WinSxS") ? "" : " (" + use.how + ")") : "not found")
                    + (use.otherArchitectures.isEmpty() ? "" : "; passed over " + Dependency.join(use.otherArchitectures)));
        }
    }

    void places(Loader loader, Node root) {
        details.println(host.windows ? "Windows looks for the DLLs it imports, after those the process has loaded and KnownDLLs"
                + " (assumed: the registry is not read), in:" : "Linux looks for the libraries it needs, after those the"
                + " process has loaded, in:");
        List<String> defaults = new ArrayList<>();
        List<String> cache = new ArrayList<>();
        for (Place place : root.places) {
            if (place.rule == Place.Rule.DEFAULT) {
                defaults.add(place.folder.toString());
            } else if (place.rule == Place.Rule.CACHE) {
                cache.add(place.folder.toString());
            } else {
                details.println("  " + place.folder + " (" + place.describe()
                        + (place.folder.isDirectory() ? ")" : "; no such folder)"));
            }
        }
        if (loader instanceof WindowsLoader) {
            for (File folder : ((WindowsLoader) loader).assumedPrograms) {
                details.println("  not " + folder + ": the program's folder only if it holds the java.exe that runs,"
                        + " which Java 8 does not say");
            }
            if (host.path == null) {
                details.println("  PATH: not set");
            } else if (Loader.split(host.path, ";").isEmpty()) {
                details.println("  PATH: empty");
            }
            return;
        }
        if (host.ldLibraryPath == null || host.ldLibraryPath.isEmpty()) {
            details.println("  LD_LIBRARY_PATH: not set");
        }
        details.println("  " + Place.Rule.CACHE.words + ": " + String.join(", ", cache));
        details.println("  " + Place.Rule.DEFAULT.words + ": " + String.join(", ", defaults));
        for (String unread : ((LinuxLoader) loader).unread()) {
            details.println("  not read: " + unread);
        }
    }

    void tree(Node root) {
        details.println("Needs (" + (host.windows ? "its import table" : "its DT_NEEDED entries")
                + "; indented below each, what that one needs, but for the system's own):");
        print(root.children, "  ");
    }

    private void print(List<Node> nodes, String indent) {
        for (Node node : nodes) {
            details.println(indent + node.name + ": " + line(node));
            if (!node.again) {
                print(node.children, indent + "  ");
            }
        }
    }

    /** What the tree says of one library, after its name. */
    private static String line(Node node) {
        StringBuilder line = new StringBuilder();
        if (node.again) {
            line.append("as above");
        } else if (node.file == null) {
            line.append("not found");
        } else if (node.unusable != null) {
            line.append(node.file).append(", which ").append(node.unusable.problem);
        } else {
            line.append(node.file).append(", ").append(node.image.describe());
            Place.Rule rule = node.place.rule;
            if (rule == Place.Rule.LOADED || rule == Place.Rule.KNOWN_DLL || rule == Place.Rule.ASSEMBLY) {
                line.append(", ").append(node.place.describe());
            }
        }
        for (Node.Candidate passed : node.passed) {
            line.append("; passed over ").append(passed.file).append(", which ").append(passed.problem);
        }
        List<String> lacking = node.lacking();
        if (!lacking.isEmpty()) {
            line.append("; lacks ").append(String.join(", ", lacking));
        }
        return line.toString();
    }

    void symbols(Node root, Fault.Finding finding) {
        if (host.windows) {
            return;
        }
        boolean missing = false;
        List<String> undefined = new ArrayList<>();
        for (Node node : Loader.inLoadOrder(root)) {
            missing |= !node.loadable();
            if (!node.undefined.isEmpty()) {
                undefined.add("Symbols: " + node.file + " needs " + String.join(", ", node.undefined)
                        + ", which no library loaded with it defines");
            }
            node.missingVersions.forEach((provider, versions) -> undefined.add("Symbols: " + node.file + " needs version "
                    + String.join(", ", versions) + " of " + provider.name + ", which " + provider.file + " does not define"));
        }
        if (missing) {
            details.println("Symbols: not checked, since a library is missing");
        } else if (undefined.isEmpty()) {
            details.println("Symbols: each one needed is defined");
        }
        for (String line : undefined) {
            details.println(line);
        }
    }

    /**
     * Where a library carried in a jar is copied for this JVM and user, the
     * copies there, and, when Java's search finds none ({@code notFound}),
     * what a program with the jar on its class path would do.
     */
    void copies(JarCopies copies, boolean notFound) {
        if (copies.platform == null) {
            details.println("From a jar: no jqel-native jar carries the library for this platform");
            return;
        }
        details.println("From a jar: when no folder holds the library, the copy that a jqel-native jar for " + copies.platform
                + " carries is loaded from below " + copies.folder + (copies.named ? ", which -Djqel.native.dir names:"
                : ", in java.io.tmpdir (-Djqel.native.dir names another folder):"));
        if (copies.refusal != null) {
            details.println("  refused: " + copies.refusal);
        } else if (!copies.exists) {
            details.println("  " + copies.folder + ": not there yet; the first load from a jar makes it");
        } else if (copies.unlisted != null) {
            details.println("  " + copies.folder + ": cannot be listed: " + copies.unlisted);
        } else if (copies.copies.isEmpty()) {
            details.println("  no copy there yet");
        }
        for (JarCopies.Copy copy : copies.copies) {
            details.println("  " + copy.file + ": " + (copy.version != null ? "version " + copy.version : "no version recorded")
                    + (copy.refusal == null ? "" : "; refused: " + copy.refusal));
        }
        if (notFound) {
            details.println("  So a program with " + copies.jar() + " on its class path " + (copies.refusal == null
                    ? "would load its copy from there" : "would fail to load it: the folder is refused"));
        }
    }

    void load(String outcome) {
        details.println("Load: " + outcome);
    }

    /**
     * The whole report: the verdict and what to do, a note on a library in
     * the current folder that Java does not take, the details, the fault in
     * the loader's terms, and the verdict's line, last; before it, where the
     * library loaded all the same, the fault the model finds as a warning.
     */
    void finish(Fault.Finding finding, boolean loaded, JavaSearch search) {
        String loadedWords = "the library loaded.";
        String unloaded = "nothing the doctor checks is wrong; the library was not loaded.";
        String headline = loaded && finding == null ? loadedWords
                : loaded ? "the library loaded, but another process or a change to this machine may meet a fault: "
                        + finding.what + "."
                : finding != null ? "the library does not load: " + finding.what + "."
                : unloaded;
        out.println(Character.toUpperCase(headline.charAt(0)) + headline.substring(1));
        if (finding != null) {
            out.println("What to do: " + finding.advice() + ".");
        }
        if (search.inCurrentFolder != null && search.found != null) {
            out.println("Note: " + host.libraryFileName() + " is also in the current folder, which is not on"
                    + " java.library.path: " + search.inCurrentFolder + "; Java takes " + search.found + ".");
        }
        out.println();
        out.println("The details, in the loader's terms:");
        details.flush();
        out.print(text);
        if (finding != null && finding.cause() != null) {
            out.println("Fault: " + finding.cause());
        }
        if (loaded && finding != null) {
            out.println("Warning: the library loaded, but the doctor's model of the loader finds a fault, which another"
                    + " process or a change to this machine may meet: " + finding.verdict());
        }
        out.println("Verdict: " + (loaded ? loadedWords : finding != null ? finding.verdict() : unloaded));
    }
}
