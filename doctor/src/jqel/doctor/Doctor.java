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
 * The real load is the final word: if it works, a fault the model finds is
 * a warning, of what another process or a change would trip over, and the
 * exit status is 0. It prints first the verdict and what to do, in words a
 * deployer knows, then the details in the loader's terms, and last the
 * verdict's line, which names the first fault and its remedy, with the
 * section of the deployment guide that explains it, or says that the
 * library loaded.
 */
public final class Doctor {
    /** Loads the library for real: the JVM's error, or null if it loaded. */
    interface Load {
        String error(File library);
    }

    /** What a run found: the first fault the model names, or null, and whether the library loaded for real. */
    static final class Outcome {
        final Fault.Finding finding;
        final boolean loaded;

        Outcome(Fault.Finding finding, boolean loaded) {
            this.finding = finding;
            this.loaded = loaded;
        }

        /** The exit status: 0 when the library loaded, or nothing is wrong where it was not loaded. */
        int status() {
            return loaded || finding == null ? 0 : 1;
        }
    }

    private Doctor() {}

    public static void main(String[] args) {
        System.exit(run(new Host(System.getProperties(), System.getenv()), System.out, Doctor::load).status());
    }

    /**
     * Examines the host and prints the report. {@code load} loads the
     * library for real; null (unit tests) leaves it unloaded, the model
     * alone then judging.
     */
    static Outcome run(Host host, PrintStream out, Load load) {
        Report report = new Report(out, host);
        report.header(Version.VERSION);
        JavaSearch search = new JavaSearch(host);
        report.search(search);
        Loader loader = Loader.of(host);
        Node root = search.found == null ? null : loader.build(search.found, search.place);
        if (root != null) {
            report.file(search.found, root);
        }
        boolean usable = root != null && root.unusable == null;
        if (usable) {
            report.manifest(root);
            report.places(loader, root);
            report.tree(root);
        }
        Fault.Finding finding = Diagnosis.first(host, search, root);
        boolean loaded = false;
        if (usable) {
            report.symbols(root, finding);
            String error = load == null ? null : load.error(search.found);
            if (load != null) {
                report.load(error == null ? "loaded" : error);
                loaded = error == null;
            }
            if (finding == null && error != null) {
                finding = Fault.LOAD_FAILED.found("nothing the doctor checks is wrong, but the JVM cannot load the library")
                        .remedy("look up the JVM's error, which the line \"Load:\" gives, in the guide").files(search.found);
            }
        }
        report.finish(finding, loaded);
        return new Outcome(finding, loaded);
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
