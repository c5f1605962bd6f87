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
 * library loaded. With -h or --help it prints its usage alone.
 */
public final class Doctor {
    /** What -h and --help print: what the doctor does, how to run it, and the options of the program it reads. */
    private static final String USAGE = String.join(System.lineSeparator(),
            "Usage: java [options] -jar jqel-doctor.jar [-h | --help]",
            "",
            "The loading doctor of JQelAgtMsg " + Version.VERSION + " says what keeps the library from loading in a JVM,",
            "and how to fix it. Run it as the program runs: with the program's own java, its PATH (Windows)",
            "or LD_LIBRARY_PATH (Linux), in its current folder, and with the options it gives java:",
            "  -Djava.library.path=<folders>  the folders Java looks in for the library",
            "  -Djqel.library=<file>          the library file, by its full path",
            "  -Djqel.native.dir=<folder>     where the library a jqel-native jar carries is copied",
            "Where another program runs the JVM (a service wrapper, a launcher .exe), name it on Windows:",
            "  -Djqel.doctor.program=<file>   that program, in whose folder Windows looks first",
            "",
            "It prints the verdict and what to do first, then the details in the loader's terms, and the",
            "verdict again as its last line. It exits with status 0 only when the library loaded.",
            "  -h, --help                     print this and exit",
            "");

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
        Integer usage = usage(args, System.out, System.err);
        System.exit(usage != null ? usage
                : run(new Host(System.getProperties(), System.getenv()), System.out, Doctor::load).status());
    }

    /**
     * For a run with arguments, the usage and the exit status: on {@code
     * out} and 0 when each argument asks for it (-h, --help), else on
     * {@code err} and 2. Null for a run without arguments, which diagnoses.
     */
    static Integer usage(String[] args, PrintStream out, PrintStream err) {
        if (args.length == 0) {
            return null;
        }
        for (String arg : args) {
            if (!arg.equals("-h") && !arg.equals("--help")) {
                err.println("jqel-doctor: unknown argument " + arg);
                err.print(USAGE);
                return 2;
            }
        }
        out.print(USAGE);
        return 0;
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
        JarCopies copies = new JarCopies(host);
        report.copies(copies, host.libraryProperty.isEmpty() && search.found == null);
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
        Fault.Finding finding = Diagnosis.first(host, search, copies, root);
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
        report.finish(finding, loaded, search);
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
