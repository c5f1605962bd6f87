package jqel.doctor;

import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;

/**
 * The loading doctor. Run with the same java, PATH and -Djava.library.path
 * (or -Djqel.library) as the application, it says what keeps the library
 * from loading: the JVM; where it looked for the library and what the file
 * found is built for; the side-by-side assemblies a Windows DLL's manifest
 * names; every library the file needs, read from the file itself, and where
 * the system's loader finds it, in the loader's own order. Then it loads the
 * library for real. Its last line names the first problem and its remedy,
 * with the section of the deployment guide that explains it; the exit status
 * is 0 only if the library loaded.
 */
public final class Doctor {
    // The sections of DEPLOYMENT.md that remedies point to.
    static final String DEPLOYING = "Deploying JQelAgtMsg";
    static final String BESIDE = "What must sit beside it";
    static final String LOADING = "How a Java program loads it";
    static final String FAILURES = "When loading fails";
    static final String NOT_ON_PATH = "The library is not in any folder of java.library.path";
    static final String MISSING = "A library it depends on is missing";
    static final String OTHER_BITNESS = "A library it depends on is built for the other bitness";
    static final String LIBRARY_32 = "A 32-bit library in a 64-bit JVM";
    static final String LIBRARY_64 = "A 64-bit library in a 32-bit JVM";

    private final Host host;
    private final PrintStream out;
    /** The first problem found, as the verdict states it; null while there is none. */
    private String problem;

    Doctor(Host host, PrintStream out) {
        this.host = host;
        this.out = out;
    }

    public static void main(String[] args) {
        Doctor doctor = new Doctor(new Host(System.getProperties(), System.getenv()), System.out);
        System.exit(doctor.run() ? 0 : 1);
    }

    /** Prints the examination and the verdict; true if the library loaded. */
    boolean run() {
        out.println("JVM: " + host.jvm);
        File library = findLibrary();
        Image image = library == null ? null : examine(library);
        if (image != null) {
            List<File> assemblies = host.windows ? sideBySide(image, library.getName()) : new ArrayList<File>();
            dependencies(image, library, assemblies);
        }
        boolean loaded = library != null && load(library);
        out.println("Verdict: " + (loaded ? "the library loaded." : problem));
        return loaded;
    }

    /** Records a problem, unless an earlier one was found. */
    private void problem(String what, String remedy, String section) {
        if (problem == null) {
            problem = what + ": " + remedy + " (see \"" + section + "\" in DEPLOYMENT.md).";
        }
    }

    /** The library file as JQelLibrary would load it: by jqel.library, or by name as System.loadLibrary searches. */
    private File findLibrary() {
        if (!host.libraryProperty.isEmpty()) {
            File file = new File(host.libraryProperty);
            out.println("Library: jqel.library names " + file);
            if (!file.isAbsolute()) {
                problem("jqel.library is not a full path: " + file, "give the library file's full path", LOADING);
                return null;
            }
            if (!file.exists()) {
                problem("jqel.library names " + file + ", which does not exist", "give the library file's full path", LOADING);
                return null;
            }
            return file;
        }
        String name = host.libraryFileName();
        out.println("Library: " + name + ", looked for in the JVM's own folders, then in those of java.library.path:");
        List<String> folders = parsePath(host.bootLibraryPath);
        int boot = folders.size();
        folders.addAll(parsePath(host.libraryPath));
        if (folders.size() == boot) {
            out.println("  java.library.path is empty");
        }
        for (int i = 0; i < folders.size(); i++) {
            File folder = new File(folders.get(i));
            File file = new File(folder, name);
            String where = "  " + folder + (i < boot ? " (sun.boot.library.path)" : "");
            if (file.exists()) {
                out.println(where + ": found");
                return file;
            }
            out.println(where + (folder.isDirectory() ? ": not there" : ": no such folder"));
        }
        problem(name + " is in no folder of java.library.path",
                "put it in one, name its folder in -Djava.library.path, or give its full path in -Djqel.library", NOT_ON_PATH);
        return null;
    }

    /** The folders of a library path as the JVM splits it: an empty entry is the current folder. */
    private static List<String> parsePath(String path) {
        List<String> folders = new ArrayList<>();
        for (String entry : Places.split(path, File.pathSeparator)) {
            folders.add(entry.isEmpty() ? "." : entry);
        }
        return folders;
    }

    /** Reads the library file in full; null if it cannot be used. */
    private Image examine(File library) {
        File file = canonical(library);
        String shown = file.equals(library.getAbsoluteFile()) ? library.toString() : library + " -> " + file;
        if (file.isDirectory()) {
            out.println("File: " + shown + ": a folder");
            problem(library + " is a folder, not the library", "put the library file in its place", LOADING);
            return null;
        }
        Image image;
        try {
            image = Image.read(file, true);
        } catch (BadFile e) {
            out.println("File: " + shown + " " + e.getMessage());
            problem(library + " " + e.getMessage(), e.unreadable ? "let the user that runs Java read it"
                    : "copy it again from the release archive, where sha256sum -c SHA256SUMS checks it", DEPLOYING);
            return null;
        }
        String mismatch = mismatch(image);
        out.println("File: " + shown + ": " + image.describe() + (mismatch == null ? ", as the JVM" : ", " + mismatch));
        if (mismatch != null) {
            problem(library + " is " + mismatch, remedy(image), section(image));
        }
        return image;
    }

    /** Why this JVM cannot load a file of this format and machine, or null if it can. */
    private String mismatch(Image image) {
        if (!image.format.equals(host.libraryFormat())) {
            return "a " + (image.format.equals(Image.PE) ? "Windows" : "Linux") + " library, while this JVM runs on "
                    + (host.windows ? "Windows" : "Linux");
        }
        if (!image.runsOn(host.arch, host.bits)) {
            return "built for " + image.machine + " (" + image.bits + "-bit), the JVM for " + host.describeJvm();
        }
        return null;
    }

    private String remedy(Image library) {
        if (!library.format.equals(host.libraryFormat())) {
            return "use " + host.libraryFileName() + ", the library built for " + (host.windows ? "Windows" : "Linux");
        }
        if (library.bits != host.bits) {
            return "run the program with a " + library.bits + "-bit JVM";
        }
        return "run the program with a JVM for " + library.machine;
    }

    private String section(Image library) {
        if (!library.format.equals(host.libraryFormat()) || library.bits == host.bits) {
            return BESIDE;
        }
        return library.bits == 32 ? LIBRARY_32 : LIBRARY_64;
    }

    /**
     * The side-by-side assemblies the DLL's manifest names, each looked for
     * under the Windows folder's WinSxS. Returns the folders found.
     */
    private List<File> sideBySide(Image image, String name) {
        List<File> found = new ArrayList<>();
        if (image.manifest == null) {
            out.println("Manifest: none");
            return found;
        }
        List<Assembly> assemblies = Assembly.dependencies(image.manifest);
        if (assemblies.isEmpty()) {
            out.println("Manifest: names no side-by-side assembly");
        }
        File winSxS = host.windowsFolder == null ? null : new File(host.windowsFolder, "WinSxS");
        for (Assembly assembly : assemblies) {
            File folder = winSxS == null ? null : assembly.find(winSxS);
            String where = winSxS == null ? "WinSxS (the Windows folder is unknown: SystemRoot is not set)" : winSxS.toString();
            out.println("Manifest: side-by-side assembly " + assembly.describe() + ": "
                    + (folder != null ? folder : "not in " + where));
            if (folder != null) {
                found.add(folder);
            } else {
                problem("the side-by-side assembly " + assembly.describe() + " that the manifest of " + name
                        + " names is not in " + where,
                        "install the redistributable package that provides it for " + assembly.architecture, BESIDE);
            }
        }
        return found;
    }

    /** Every library the file needs, and where the loader finds it, after the folders it looks in. */
    private void dependencies(Image image, File library, List<File> assemblies) {
        File home = canonical(library).getParentFile();
        List<String> unread = new ArrayList<>();
        List<Places.Place> places = host.windows ? Places.windows(host) : Places.linux(host, image, home, unread);
        printPlaces(places, unread);
        out.println("Needs (" + (host.windows ? "its import table" : "its DT_NEEDED entries") + "):");
        for (String name : image.needed) {
            if (host.windows) {
                importedDll(name, library, home, places, assemblies);
            } else {
                neededLibrary(name, home, places);
            }
        }
    }

    private void printPlaces(List<Places.Place> places, List<String> unread) {
        String system = host.windows ? "Windows" : "Linux";
        out.println(system + (host.windows ? " looks for the DLLs it imports in:" : " looks for the libraries it needs in:"));
        List<String> defaults = new ArrayList<>();
        for (Places.Place place : places) {
            if (place.why.equals(Places.DEFAULT)) {
                defaults.add(place.folder.toString());
            } else {
                out.println("  " + place.folder + " (" + place.why + (place.folder.isDirectory() ? ")" : "; no such folder)"));
            }
        }
        if (host.windows && host.path == null) {
            out.println("  PATH: not set");
        } else if (host.windows && Places.split(host.path, ";").isEmpty()) {
            out.println("  PATH: empty");
        }
        if (!host.windows) {
            if (host.ldLibraryPath == null || host.ldLibraryPath.isEmpty()) {
                out.println("  LD_LIBRARY_PATH: not set");
            }
            out.println("  " + Places.DEFAULT + ": " + String.join(", ", defaults));
            for (String file : unread) {
                out.println("  not read: " + file);
            }
        }
    }

    /**
     * Windows: a DLL of a side-by-side assembly found above comes from its
     * folder; any other is the first file of that name in the search order,
     * whatever it is built for.
     */
    private void importedDll(String name, File library, File home, List<Places.Place> places, List<File> assemblies) {
        File file = null;
        for (File assembly : assemblies) {
            file = Places.entry(assembly, name, true);
            if (file != null) {
                break;
            }
        }
        for (int i = 0; file == null && i < places.size(); i++) {
            File candidate = Places.entry(places.get(i).folder, name, true);
            if (candidate != null && candidate.isFile()) {
                file = candidate;
            }
        }
        if (file != null) {
            String why = unusable(file);
            out.println("  " + name + ": " + file + (why == null ? ", " + describe(file) : ", which " + why));
            if (why != null) {
                problem(file + ", the first " + name + " that Windows finds, " + why, remedy(why, "its place"), section(why));
            }
            return;
        }
        File beside = Places.entry(home, name, true);
        if (beside != null) {
            out.println("  " + name + ": not found; there is one beside " + library.getName() + ", where Windows does not look");
            problem(name + " is beside " + library.getName() + " in " + home + ", where Windows does not look for it",
                    "put " + home + " on PATH", BESIDE);
        } else {
            out.println("  " + name + ": not found");
            problem(name + " is in none of the folders Windows looks in", "put the folder that holds it on PATH", MISSING);
        }
    }

    /** Linux: the first file of that name in the search order that ld.so can load; it passes over the others. */
    private void neededLibrary(String name, File home, List<Places.Place> places) {
        List<String> passedOver = new ArrayList<>();
        List<String> reasons = new ArrayList<>();
        for (Places.Place place : places) {
            File file = new File(place.folder, name);
            if (!file.exists()) {
                continue;
            }
            String why = unusable(file);
            if (why == null) {
                out.println("  " + name + ": " + file + ", " + describe(file));
                return;
            }
            passedOver.add(file.toString());
            reasons.add(why);
        }
        if (passedOver.isEmpty()) {
            out.println("  " + name + ": not found");
            problem(name + " is in none of the folders Linux looks in",
                    "put it in " + home + ", the library's folder, or name its folder in LD_LIBRARY_PATH", MISSING);
            return;
        }
        List<String> passed = new ArrayList<>();
        for (int i = 0; i < passedOver.size(); i++) {
            passed.add(passedOver.get(i) + ", which " + reasons.get(i));
        }
        out.println("  " + name + ": not found; passed over " + String.join("; ", passed));
        problem("Linux passes over every " + name + " it finds; the first, " + passedOver.get(0) + ", " + reasons.get(0),
                remedy(reasons.get(0), home + ", the library's folder"), section(reasons.get(0)));
    }

    /** Why the loader cannot take this file for this JVM, or null if it can. */
    private String unusable(File file) {
        if (file.isDirectory()) {
            return "is a folder";
        }
        try {
            String mismatch = mismatch(Image.read(file, false));
            return mismatch == null ? null : "is " + mismatch;
        } catch (BadFile e) {
            return e.getMessage();
        }
    }

    /** What to do about a dependency the loader cannot take, for the reason given by {@link #unusable}. */
    private String remedy(String why, String where) {
        return why.startsWith("cannot be read") ? "let the user that runs Java read it"
                : "put one built for " + host.describeJvm() + " in " + where;
    }

    private String section(String why) {
        return why.startsWith("is built for") ? OTHER_BITNESS : MISSING;
    }

    /** What a file the loader can take is built for. */
    private static String describe(File file) {
        try {
            return Image.read(file, false).describe();
        } catch (BadFile e) {
            return e.getMessage();
        }
    }

    /** Loads the library as System.load does for JQelLibrary, and says how that ended. */
    private boolean load(File library) {
        try {
            System.load(library.getAbsolutePath());
            out.println("Load: loaded");
            return true;
        } catch (UnsatisfiedLinkError e) {
            out.println("Load: " + e);
            problem("nothing the doctor checks is wrong, but the JVM cannot load the library",
                    "look its error, on the line above, up", FAILURES);
            return false;
        }
    }

    private static File canonical(File file) {
        try {
            return file.getCanonicalFile();
        } catch (IOException e) {
            return file.getAbsoluteFile();
        }
    }
}
