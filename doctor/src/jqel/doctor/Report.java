package jqel.doctor;

import java.io.File;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;

/** Prints what Java's search and the loader model found, and the verdict. It judges nothing. */
final class Report {
    private final PrintStream out;
    private final Host host;

    Report(PrintStream out, Host host) {
        this.out = out;
        this.host = host;
    }

    void header(String version) {
        out.println("JVM: " + host.jvm);
        out.println("Doctor: jqel-doctor " + version);
    }

    void search(JavaSearch search) {
        if (!host.libraryProperty.isEmpty()) {
            out.println("Library: jqel.library names " + host.libraryProperty);
            return;
        }
        out.println("Library: " + host.libraryFileName() + ", looked for in the JVM's own folders (sun.boot.library.path),"
                + " then in those of java.library.path:");
        for (JavaSearch.Looked looked : search.looked) {
            String read = looked.place.folder.toString();
            String written = looked.entry.isEmpty() ? " (an empty entry)"
                    : read.equals(looked.entry) ? "" : " (written " + looked.entry + ")";
            out.println("  " + read + written + (looked.place.rule == Place.Rule.BOOT_PATH ? " (sun.boot.library.path)" : "")
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
        out.println("File: " + shown + (bad == null || bad.image != null ? ": " : " ") + what);
        if (root.image != null) {
            out.println("Version: " + (root.image.version != null ? root.image.version : "none recorded in the file"));
        }
    }

    void manifest(Node root) {
        if (!host.windows || root.image == null) {
            return;
        }
        if (root.malformedManifest != null) {
            out.println("Manifest: not well-formed XML, which Windows refuses: " + root.malformedManifest);
        } else if (root.unreadManifest != 0) {
            out.println("Manifest: only resource " + root.unreadManifest + ", which Windows does not read for a DLL's imports");
        } else if (root.image.manifests.get(WindowsLoader.DLL_MANIFEST) == null) {
            out.println("Manifest: none");
        } else if (root.assemblies.isEmpty()) {
            out.println("Manifest: names no side-by-side assembly");
        }
        for (Node.Use use : root.assemblies) {
            out.println("Manifest: side-by-side assembly " + use.assembly.describe() + ": "
                    + (use.policy == null ? "" : "sent to version " + use.version + " by the publisher policy " + use.policy
                    + ", ")
                    + (use.folder != null ? use.folder + (use.how.equals("WinSxS") ? "" : " (" + use.how + ")") : "not found")
                    + (use.otherArchitectures.isEmpty() ? "" : "; passed over " + Dependency.join(use.otherArchitectures)));
        }
    }

    void places(Loader loader, Node root) {
        out.println(host.windows ? "Windows looks for the DLLs it imports, after those the process has loaded and KnownDLLs"
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
                out.println("  " + place.folder + " (" + place.describe() + (place.folder.isDirectory() ? ")" : "; no such folder)"));
            }
        }
        if (loader instanceof WindowsLoader) {
            for (File folder : ((WindowsLoader) loader).assumedPrograms) {
                out.println("  not " + folder + ": the program's folder only if it holds the java.exe that runs,"
                        + " which Java 8 does not say");
            }
            if (host.path == null) {
                out.println("  PATH: not set");
            } else if (Loader.split(host.path, ";").isEmpty()) {
                out.println("  PATH: empty");
            }
            return;
        }
        if (host.ldLibraryPath == null || host.ldLibraryPath.isEmpty()) {
            out.println("  LD_LIBRARY_PATH: not set");
        }
        out.println("  " + Place.Rule.CACHE.words + ": " + String.join(", ", cache));
        out.println("  " + Place.Rule.DEFAULT.words + ": " + String.join(", ", defaults));
        for (String unread : ((LinuxLoader) loader).unread()) {
            out.println("  not read: " + unread);
        }
    }

    void tree(Node root) {
        out.println("Needs (" + (host.windows ? "its import table" : "its DT_NEEDED entries")
                + "; indented below each, what that one needs, but for the system's own):");
        print(root.children, "  ");
    }

    private void print(List<Node> nodes, String indent) {
        for (Node node : nodes) {
            out.println(indent + node.name + ": " + line(node));
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
            out.println("Symbols: not checked, since a library is missing");
        } else if (undefined.isEmpty()) {
            out.println("Symbols: each one needed is defined");
        }
        for (String line : undefined) {
            out.println(line);
        }
    }

    void load(String outcome) {
        out.println("Load: " + outcome);
    }

    /**
     * The last line, and before it, where the library loaded all the same,
     * the fault the model finds as a warning.
     */
    void verdict(Fault.Finding finding, boolean loaded) {
        if (loaded && finding != null) {
            out.println("Warning: the library loaded, but the doctor's model of the loader finds a fault, which another"
                    + " process or a change to this machine may meet: " + finding.verdict());
        }
        out.println("Verdict: " + (loaded ? "the library loaded."
                : finding != null ? finding.verdict() : "nothing the doctor checks is wrong; the library was not loaded."));
    }
}
