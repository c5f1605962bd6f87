package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.List;

/**
 * Walks what Java's search and the loader model found, in the order the JVM
 * and the loader meet it, and names the first fault: its kind, the files
 * and the chain of importers, and a remedy that fixes it.
 */
final class Diagnosis {
    private final Host host;
    private final String system;

    private Diagnosis(Host host) {
        this.host = host;
        this.system = host.windows ? "Windows" : "Linux";
    }

    /** The first fault, or null when there is none. {@code root} is null when no library file was found. */
    static Fault.Finding first(Host host, JavaSearch search, Node root) {
        return new Diagnosis(host).find(search, root);
    }

    private Fault.Finding find(JavaSearch search, Node root) {
        if (search.propertyProblem != null) {
            return new Fault.Finding(Fault.PROPERTY, search.propertyProblem, "give the library file's full path", "");
        }
        if (root == null) {
            String name = host.libraryFileName();
            if (search.quoted != null) {
                return new Fault.Finding(Fault.QUOTED, name + " is in no folder of java.library.path: its entry " + search.quoted
                        + " is in quotes, which Java " + host.javaRelease + " keeps as part of the folder's name",
                        "remove the quotes", "");
            }
            return new Fault.Finding(Fault.NOT_ON_PATH, name + " is in no folder of java.library.path",
                    "put it in one, name its folder in -Djava.library.path, or give its full path in -Djqel.library", "");
        }
        if (root.bad != null) {
            return library(root);
        }
        if (search.shadowed != null) {
            return new Fault.Finding(Fault.IN_JVM_FOLDER, root.file + ", in the JVM's own folder, comes before "
                    + search.shadowed + " of java.library.path: Java searches sun.boot.library.path first",
                    "remove " + root.file + " from the JVM's folder", "", root.file, search.shadowed);
        }
        if (host.windows && host.programNamed && !host.program.isFile()) {
            return new Fault.Finding(Fault.PROGRAM, "jqel.doctor.program names " + host.program + ", which is no file",
                    "give the full path of the program's .exe", "");
        }
        for (Node node : Loader.inLoadOrder(root)) {
            Fault.Finding finding = node.again ? null : judge(node);
            if (finding != null) {
                return finding;
            }
        }
        return null;
    }

    /** The library file itself, which this JVM cannot load. */
    private Fault.Finding library(Node root) {
        Node.Candidate bad = root.bad;
        String what = root.file + " " + bad.why;
        if (root.place.rule == Place.Rule.BOOT_PATH) {
            return new Fault.Finding(Fault.IN_JVM_FOLDER, root.file + ", in the JVM's own folder, which Java searches before"
                    + " java.library.path, " + bad.why, "remove it from the JVM's folder", "", root.file);
        }
        if (bad.bad == BadFile.Kind.NOT_A_FILE) {
            return new Fault.Finding(Fault.PROPERTY, what, root.place.rule == Place.Rule.JQEL_LIBRARY
                    ? "give the library file's full path" : "put the library file in its place", "", root.file);
        }
        if (bad.bad == BadFile.Kind.UNREADABLE) {
            return new Fault.Finding(Fault.UNREADABLE, what, "let the user that runs Java read it", "", root.file);
        }
        if (bad.bad != null) {
            return new Fault.Finding(Fault.BAD_LIBRARY, what, "copy it again from the release archive, where " + (host.windows
                    ? "certutil -hashfile " + host.libraryFileName() + " SHA256 must print the sum that SHA256SUMS lists"
                    : "sha256sum -c SHA256SUMS checks it"), "", root.file);
        }
        Image image = bad.image;
        boolean byProperty = root.place.rule == Place.Rule.JQEL_LIBRARY;
        if (!image.format.equals(host.libraryFormat())) {
            return new Fault.Finding(Fault.WRONG_SYSTEM, what, "use " + host.libraryFileName() + ", the library built for "
                    + system, "", root.file);
        }
        if (image.bits == host.bits) {
            return new Fault.Finding(Fault.WRONG_MACHINE, what, "use the library built for " + host.describeJvm(), "", root.file);
        }
        Fault kind = image.bits == 32 ? Fault.LIBRARY_32 : Fault.LIBRARY_64;
        String remedy;
        if (host.windows && image.bits == 64) {
            remedy = (byProperty ? "name the 32-bit " : "put the 32-bit ") + host.libraryFileName()
                    + (byProperty ? " in -Djqel.library" : " in its place") + ": the product's DLLs are 32-bit only";
        } else if (byProperty) {
            remedy = "name the library built for " + host.describeJvm() + " in -Djqel.library";
        } else {
            remedy = "run the program with a " + image.bits + "-bit JVM";
        }
        return new Fault.Finding(kind, what, remedy, "", root.file);
    }

    /** One library of the tree: its manifest's assemblies, then how it was found, then what it lacks. */
    private Fault.Finding judge(Node node) {
        for (Node.Use use : node.assemblies) {
            if (use.folder == null) {
                String others = join(use.otherArchitectures);
                return new Fault.Finding(Fault.ASSEMBLY, "the side-by-side assembly " + use.assembly.describe()
                        + " that the manifest of " + node.name + " names is not in "
                        + (host.windowsFolder == null ? "WinSxS (SystemRoot is not set)" : new File(host.windowsFolder, "WinSxS"))
                        + " nor beside it" + (others.isEmpty() ? "" : "; only one for another processor is there, at " + others)
                        + below(node, null), "install " + use.assembly.installer(), node.chain(), node.file);
            }
        }
        if (node.importer == null) {
            return undefined(node);
        }
        String name = node.name;
        if (node.file == null) {
            return notFound(node);
        }
        if (node.bad != null) {
            return new Fault.Finding(Fault.BAD_DEPENDENCY, node.file + ", the first " + name + " that " + system + " finds, "
                    + node.bad.why + below(node.importer, name), node.bad.bad == BadFile.Kind.UNREADABLE
                    ? "let the user that runs Java read it" : "repair the installation it comes from, or "
                    + instead(node.place, name), node.chain(), node.file);
        }
        for (Node.Link link : node.links) {
            if (link.satisfied) {
                continue;
            }
            if (link.target != null && link.target.file == null) {
                Fault.Finding missing = notFound(link.target);
                return new Fault.Finding(missing.kind, missing.what + "; " + node.name + " forwards " + link.function
                        + " to it", missing.remedy, link.target.chain(), node.file);
            }
            List<String> lacking = node.lacking();
            String from = link.target == null ? "" : "; " + node.name + " forwards " + link.function + " to "
                    + link.forward + ", and " + (link.target.file == null ? link.target.name : link.target.file)
                    + " lacks " + link.forward.substring(link.forward.lastIndexOf('.') + 1);
            return new Fault.Finding(Fault.LACKS, node.file + " lacks " + String.join(", ", lacking) + ", which "
                    + node.importer.name + " imports from it" + from + below(node.importer, name),
                    "it is from another version of the product than " + node.importer.name + "; " + instead(node.place, name),
                    node.chain(), node.file);
        }
        return undefined(node);
    }

    /** Linux: symbols the library takes that none loaded with it defines. */
    private Fault.Finding undefined(Node node) {
        if (node.undefined.isEmpty()) {
            return null;
        }
        List<String> providers = new ArrayList<>();
        for (Node child : node.children) {
            if (!child.system() && child.file != null) {
                providers.add(child.file.toString());
            }
        }
        String symbols = String.join(", ", node.undefined);
        return new Fault.Finding(Fault.LACKS, node.file + " needs " + symbols + ", which no library loaded with it defines"
                + (node.importer == null ? "" : " (" + node.chain() + ")"), providers.isEmpty()
                ? "it was built against a library it does not name"
                : String.join(" or ", providers) + " is from another version of the product; take the product's"
                + " libraries from one installation of the version that " + node.name + " is made for", node.chain(), node.file);
    }

    /** A library the loader finds nowhere: copies it passed over, or one where it does not look, are the likely cause. */
    private Fault.Finding notFound(Node node) {
        String name = node.name;
        String chain = below(node.importer, name);
        boolean first = node.importer.importer == null;
        List<Node.Candidate> passed = node.passed;
        boolean otherMachines = !passed.isEmpty() && passed.get(0).otherMachine;
        String it = otherMachines ? "one built for " + host.describeJvm() : "it";
        File home = node.importer.file == null ? null : node.importer.file.getParentFile();
        String remedy = host.windows ? "put the folder that holds " + it + " on PATH"
                : first ? "put " + it + " in " + home + ", the library's folder, or name its folder in LD_LIBRARY_PATH"
                : "name the folder that holds " + it + " in LD_LIBRARY_PATH";
        if (node.assumedOnly != null) {
            return new Fault.Finding(Fault.PROGRAM_ASSUMED, name + " is only in " + node.assumedOnly.getParentFile()
                    + ", which Windows searches only when the program is the java.exe there; Java 8 does not say which"
                    + " java.exe runs, and the JDK has two" + chain, "put its folder on PATH", node.chain(), node.assumedOnly);
        }
        if (otherMachines) {
            Image copy = passed.get(0).image;
            List<File> files = new ArrayList<>();
            for (Node.Candidate candidate : passed) {
                files.add(candidate.file);
            }
            return new Fault.Finding(Fault.OTHER_BITNESS, name + " is in none of the folders " + system + " looks in; only "
                    + (copy.bits != host.bits ? "a " + copy.bits + "-bit " + name : "a " + name + " built for " + copy.machine)
                    + (passed.size() > 1 ? " and others not for this JVM are there, at " : " is there, at ") + join(files)
                    + ", which " + system + " passes over" + chain, remedy, node.chain(), files.toArray(new File[0]));
        }
        if (!passed.isEmpty()) {
            Node.Candidate copy = passed.get(0);
            return new Fault.Finding(Fault.MISSING, system + " passes over every " + name + " it finds; the first, " + copy.file
                    + ", " + copy.why + chain, copy.bad == BadFile.Kind.UNREADABLE ? "let the user that runs Java read it"
                    : remedy, node.chain(), copy.file);
        }
        if (node.quotedEntry != null) {
            return new Fault.Finding(Fault.QUOTED, name + " is in none of the folders Windows looks in: the PATH entry "
                    + node.quotedEntry + " is in quotes, which Windows keeps as part of the folder's name" + chain,
                    "remove the quotes from that entry of PATH", node.chain());
        }
        if (node.beside != null) {
            return new Fault.Finding(Fault.BESIDE, name + " is beside " + node.importer.name + " in " + home
                    + ", where Windows does not look for it", "put " + home + " on PATH", node.chain(), node.beside);
        }
        String unexpanded = node.unexpanded.isEmpty() ? "" : "; PATH holds " + String.join(", ", node.unexpanded)
                + ", which names a variable Windows did not expand (it is not set, or PATH was saved as a plain string)";
        return new Fault.Finding(Fault.MISSING, name + " is in none of the folders " + system + " looks in" + chain
                + unexpanded, unexpanded.isEmpty() ? remedy : "write that folder out in PATH, or set the variable",
                node.chain());
    }

    /**
     * How to make the loader take the right file instead of this one, by
     * where it is. Never by replacing a file outside the system folders: it
     * may be another product's.
     */
    private String instead(Place place, String name) {
        String folder = place.folder.toString();
        switch (place.rule) {
            case ASSEMBLY:
                return "install its side-by-side assembly again";
            case PATH:
                return "put the folder of the right " + name + " on PATH before " + folder;
            case LD_LIBRARY_PATH:
                return "name the folder of the right " + name + " in LD_LIBRARY_PATH before " + folder;
            case RUNPATH: case DEFAULT: case CACHE:
                return "name the folder of the right " + name + " in LD_LIBRARY_PATH, which comes before " + folder;
            case CURRENT:
                return "start the program in another folder: Windows looks in the current folder before PATH";
            case SYSTEM: case SYSTEM16: case WINDOWS:
                return "remove " + new File(folder, name) + ": Windows takes it before any folder of PATH, and the"
                        + " product's DLLs belong on PATH alone (an old installation left it there)";
            default:
                return system + " looks in " + folder + " (" + place.describe() + ") before "
                        + (host.windows ? "PATH" : "LD_LIBRARY_PATH") + ": find out which installation put it there"
                        + " before you move it";
        }
    }

    /** The chain to a library that this one needs, in parentheses, when it lies below the first level. */
    private static String below(Node importer, String needed) {
        if (importer == null || importer.importer == null) {
            return "";
        }
        return " (" + importer.chain() + (needed == null ? "" : " -> " + needed) + ")";
    }

    static String join(List<File> files) {
        List<String> names = new ArrayList<>();
        for (File file : files) {
            names.add(file.toString());
        }
        return String.join(", ", names);
    }
}
