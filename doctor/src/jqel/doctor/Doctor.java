package jqel.doctor;

import java.io.File;
import java.io.PrintStream;

/**
 * The loading doctor. Run with the same java, PATH and -Djava.library.path
 * (or -Djqel.library) as the application, it says what keeps the library
 * from loading: which file Java takes and its version; every library that
 * file needs, and what those need in turn, each found where the system's
 * loader finds it and checked for what its importer takes from it. Then it
 * loads the library for real, unless the file is one the JVM cannot load.
 * Its last line names the first fault and its remedy, with the section of
 * the deployment guide that explains it; the exit status is 0 only if the
 * library loaded.
 */
public final class Doctor {
    private Doctor() {}

    public static void main(String[] args) {
        System.exit(run(new Host(System.getProperties(), System.getenv()), System.out, true) == null ? 0 : 1);
    }

    /**
     * Examines the host and prints the report; returns the first fault, or
     * null when the library loaded. With {@code load} false (unit tests) the
     * library is not loaded, and a tree without fault gives null.
     */
    static Fault.Finding run(Host host, PrintStream out, boolean load) {
        Report report = new Report(out, host);
        report.header(Version.VERSION);
        JavaSearch search = new JavaSearch(host);
        report.search(search);
        Loader loader = Loader.of(host);
        Node root = search.found == null ? null : loader.build(search.found, search.place);
        if (root != null) {
            report.file(search.found, root);
        }
        if (root != null && root.bad == null) {
            report.manifest(root);
            report.places(loader, root);
            report.tree(root);
        }
        Fault.Finding finding = Diagnosis.first(host, search, root);
        if (root != null && root.bad == null) {
            report.symbols(root, finding);
            if (load) {
                String error = load(search.found);
                report.load(error == null ? "loaded" : error);
                if (finding == null && error != null) {
                    finding = new Fault.Finding(Fault.LOAD_FAILED, "nothing the doctor checks is wrong, but the JVM cannot"
                            + " load the library", "look up its error, on the line above, in \"" + Fault.LOAD_FAILED.section
                            + "\"", "", search.found);
                }
            }
        }
        report.verdict(finding);
        return finding;
    }

    /** Loads the library as System.load does for JQelLibrary; the error, or null if it loaded. */
    private static String load(File library) {
        try {
            System.load(library.getAbsolutePath());
            return null;
        } catch (UnsatisfiedLinkError e) {
            return e.toString();
        }
    }
}
