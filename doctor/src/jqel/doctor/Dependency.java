package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * Judges one library of the tree, as the loader meets it: its manifest and
 * the assemblies it names, then how it was found, then what it lacks of
 * what its importer takes from it. A library taken again for a later
 * importer is judged for that importer's functions alone.
 */
final class Dependency {
    private final Host host;
    private final String system;

    Dependency(Host host) {
        this.host = host;
        this.system = host.windows ? "Windows" : "Linux";
    }

    /** The fault of this node, or null. */
    Fault.Finding judge(Node node) {
        if (node.again) {
            return links(node);
        }
        Fault.Finding finding = SideBySideFault.manifest(host, node);
        if (finding != null) {
            return finding;
        }
        if (node.importer == null) {
            return symbols(node);
        }
        finding = SideBySideFault.runtime(host, node);
        if (finding != null) {
            return finding;
        }
        if (node.file == null) {
            return notFound(node);
        }
        if (node.unusable != null) {
            return unusable(node);
        }
        finding = links(node);
        return finding != null ? finding : symbols(node);
    }

    /** The file the loader stops at, which it cannot load. */
    private Fault.Finding unusable(Node node) {
        Node.Candidate bad = node.unusable;
        String words = bad.loaderWords == null ? "" : ": ld.so stops there, with \"" + bad.loaderWords + "\"";
        return Fault.BAD_DEPENDENCY.found(system + " finds " + known(node) + " first at " + node.file + ", which " + bad.problem)
                .cause(node.file + ", the first " + node.name + " that " + system + " finds, " + bad.problem + words
                        + below(node.importer, node.name))
                .remedy(bad.state == Node.Candidate.State.UNREADABLE ? "let the user that runs Java read it"
                        : "repair the installation it comes from, or " + instead(node.place, node.name))
                .chain(node.chain()).files(node.file);
    }

    /** What the importer takes from this node that it lacks, directly or through a forwarder. */
    private Fault.Finding links(Node node) {
        for (Node.Link link : node.links) {
            if (link.satisfied) {
                continue;
            }
            if (link.target != null && link.target.file == null) {
                Fault.Finding missing = notFound(link.target);
                String cause = missing.cause() != null ? missing.cause() : missing.what;
                return missing.kind.found(missing.what).cause(cause + "; " + node.name + " forwards " + link.function + " to it")
                        .remedy(missing.remedy()).chain(link.target.chain()).files(node.file);
            }
            String from = link.target == null ? "" : "; " + node.name + " forwards " + link.function + " to "
                    + link.forward + ", and " + link.target.file + " lacks "
                    + link.forward.substring(link.forward.lastIndexOf('.') + 1);
            String lacking = String.join(", ", node.lacking());
            return Fault.LACKS.found(known(node) + " at " + node.file + " lacks " + lacking + ", which " + node.importer.name
                    + " needs")
                    .cause(node.file + " lacks " + lacking + ", which " + node.importer.name + " imports from it" + from
                            + below(node.importer, node.name))
                    .remedy("it is from another version of the product than " + node.importer.name + "; "
                            + instead(node.place, node.name))
                    .chain(node.chain()).files(node.file);
        }
        return null;
    }

    /** Linux: symbols the library takes that none loaded with it defines, and symbol versions its providers lack. */
    private Fault.Finding symbols(Node node) {
        String chain = node.importer == null ? "" : " (" + node.chain() + ")";
        for (Map.Entry<Node, List<String>> versions : node.missingVersions.entrySet()) {
            Node provider = versions.getKey();
            boolean system = provider.system();
            String what = node.file + " needs version " + String.join(", ", versions.getValue()) + " of " + provider.name
                    + ", which " + provider.file + " does not define";
            return Fault.LACKS_VERSION.found(what).cause(what + chain)
                    .remedy(system ? node.name + " is built for a newer system than this one: take the build of it made"
                            + " for this system's " + provider.name : provider.file + " is from another version of the"
                            + " product; take all of the product's libraries from one installation of it")
                    .chain(node.chain()).files(node.file, provider.file);
        }
        if (node.undefined.isEmpty()) {
            return null;
        }
        List<String> providers = new ArrayList<>();
        for (Node child : node.children) {
            if (!child.system() && child.file != null) {
                providers.add(child.file.toString());
            }
        }
        String what = node.file + " needs " + String.join(", ", node.undefined) + ", which no library loaded with it defines";
        return Fault.LACKS.found(what).cause(what + chain)
                .remedy(providers.isEmpty() ? "it was built against a library it does not name"
                        : String.join(" or ", providers) + " is from another version of the product; take all of the product's"
                        + " libraries from one installation of it")
                .chain(node.chain()).files(node.file);
    }

    /** A library the loader finds nowhere: copies it passed over, or one where it does not look, are the likely cause. */
    Fault.Finding notFound(Node node) {
        String name = node.name;
        String chain = below(node.importer, name);
        boolean first = node.importer.importer == null;
        List<Node.Candidate> passed = node.passed;
        boolean otherMachines = !passed.isEmpty() && passed.get(0).state == Node.Candidate.State.OTHER_MACHINE;
        String it = otherMachines ? "one built for " + host.describeJvm() : "it";
        File home = node.importer.file == null ? null : node.importer.file.getParentFile();
        String remedy = host.windows ? "put the folder that holds " + it + " on PATH"
                : first ? "put " + it + " in " + home + ", beside the library, or name its folder in LD_LIBRARY_PATH"
                : "name the folder that holds " + it + " in LD_LIBRARY_PATH";
        String known = known(node);
        if (node.assumedOnly != null) {
            String only = " is only in " + node.assumedOnly.getParentFile() + ", which Windows searches only when the program"
                    + " is the java.exe there";
            return Fault.PROGRAM_ASSUMED.found(known + only)
                    .cause(name + only + "; Java 8 does not say which java.exe runs, and the JDK has two" + chain)
                    .remedy("put its folder on PATH").chain(node.chain()).files(node.assumedOnly);
        }
        if (otherMachines) {
            Image copy = passed.get(0).image;
            List<File> files = new ArrayList<>();
            for (Node.Candidate candidate : passed) {
                files.add(candidate.file);
            }
            String other = copy.bits != host.bits ? "a " + copy.bits + "-bit " + name
                    : "a " + name + " built for " + copy.machine;
            String there = (passed.size() > 1 ? " and others not for this JVM are there, at " : " is there, at ") + join(files);
            return Fault.OTHER_BITNESS.found(known + " was not found for this " + host.bits + "-bit JVM: only " + other + there)
                    .cause(name + " is in none of the folders " + system + " looks in; only " + other + there + ", which "
                            + system + " passes over" + chain)
                    .remedy(remedy).chain(node.chain()).files(files.toArray(new File[0]));
        }
        if (!passed.isEmpty()) {
            Node.Candidate copy = passed.get(0);
            return Fault.MISSING.found(known + " was not found: " + system + " passes over every one it finds, the first, "
                    + copy.file + ", because it " + copy.problem)
                    .cause(system + " passes over every " + name + " it finds; the first, " + copy.file + ", " + copy.problem
                            + chain)
                    .remedy(copy.state == Node.Candidate.State.UNREADABLE ? "let the user that runs Java read it" : remedy)
                    .chain(node.chain()).files(copy.file);
        }
        if (node.quotedEntry != null) {
            String quoted = ": the PATH entry " + node.quotedEntry + " is in quotes, which Windows keeps as part of the folder's"
                    + " name";
            return Fault.QUOTED.found(known + " was not found" + quoted)
                    .cause(name + " is in none of the folders Windows looks in" + quoted + chain)
                    .remedy("remove the quotes from that entry of PATH").chain(node.chain());
        }
        if (node.beside != null) {
            return Fault.BESIDE.found(known + " is beside " + node.importer.name + " in " + home
                    + ", where Windows does not look for it").remedy("put " + home + " on PATH")
                    .chain(node.chain()).files(node.beside);
        }
        String unexpanded = node.unexpanded.isEmpty() ? "" : "; PATH holds " + String.join(", ", node.unexpanded)
                + ", which names a variable Windows did not expand (it is not set, or PATH was saved as a plain string)";
        return Fault.MISSING.found(known + " was not found" + unexpanded)
                .cause(name + " is in none of the folders " + system + " looks in" + chain + unexpanded)
                .remedy(unexpanded.isEmpty() ? remedy : "write that folder out in PATH, or set the variable")
                .chain(node.chain());
    }

    /**
     * A library as a deployer knows it: "the library JQelAgtMsg.dll", "the
     * agent's library libqelagtapi.so", "the product's converter
     * JQelAgtbase.dll", "the Visual C++ runtime's msvcr80.dll", or, for any
     * other, "libqelagtcore.dll (which libqelagtapi.dll needs)".
     */
    static String known(Node node) {
        String name = node.name;
        switch (name.toLowerCase(Locale.ROOT).replaceFirst("^lib", "").replaceFirst("\\..*", "")) {
            case "jqelagtmsg":
                return "the library " + name;
            case "qelagtapi":
                return "the agent's library " + name;
            case "jqelagtbase":
                return "the product's converter " + name;
            default:
                return Assembly.runtimeOf(name) != null ? "the Visual C++ runtime's " + name
                        : node.importer == null ? name : name + " (which " + node.importer.name + " needs)";
        }
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
    static String below(Node importer, String needed) {
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
