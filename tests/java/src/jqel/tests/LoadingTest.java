package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * What a load tells the user, each in a JVM of its own, as a library loads once
 * per JVM: with -Djqel.debug=true the places tried, in order, the file taken,
 * its version and the jar's, once for the three classes; a failed load's error,
 * the JVM's message first, then the doctor's command line with the program's
 * options; availability asked first; and a library of another version.
 */
class LoadingTest {
    private static final String LIBRARY_PATH = System.getProperty("java.library.path");
    private static final String FILE = System.mapLibraryName("JQelAgtMsg");
    private static final String VERSION = System.getProperty("jqel.expected.version");
    /** The JVM loads a shim in the library's place that maps the DLL, which records the version. */
    private static final boolean SHIM = System.getenv("JQEL_BRIDGE_DLL") != null;

    private static String run(String... options) throws Exception {
        return Agent.runJvm(System.getProperty("jqel.tests.classpath"), Arrays.asList(options), "jqel.tests.LoadMain");
    }

    /** LoadMain's availability run: each line it printed. */
    private static List<String> availability(String... options) throws Exception {
        List<String> all = new ArrayList<>(Arrays.asList(options));
        all.add("-Djqel.tests.available=true");
        return Arrays.asList(Agent.runJvm(System.getProperty("jqel.tests.classpath"), all, "jqel.tests.LoadMain")
                .split(System.lineSeparator()));
    }

    @Test
    void withDebugALoadNamesItsPlacesTheFileItTookItsVersionAndTheJarsOnce() throws Exception {
        String out = run("-Djqel.debug=true");
        File taken = new File(LIBRARY_PATH, FILE);
        String boot = new File(System.getProperty("sun.boot.library.path").split(File.pathSeparator)[0], FILE)
                + " (sun.boot.library.path): not there";
        String found = taken + " (java.library.path): found";
        String loaded = "jqel.debug: loaded " + taken.getAbsolutePath()
                + (taken.getCanonicalPath().equals(taken.getAbsolutePath()) ? "" : " -> " + taken.getCanonicalPath());
        assertTrue(out.contains("jqel.debug: com.brenn.varnis.tq.api.jqel " + VERSION + ", from file:"), out);
        assertTrue(out.indexOf(boot) >= 0 && out.indexOf(boot) < out.indexOf(found), out);
        assertTrue(out.contains(loaded + System.lineSeparator()), out);
        assertTrue(out.contains("jqel.debug: its version: " + (SHIM ? "none recorded in the file" : VERSION)
                + System.lineSeparator()), out);
        assertEquals(out.indexOf("jqel.debug: loaded"), out.lastIndexOf("jqel.debug: loaded"), out);
        assertFalse(out.contains("warning"), out);
        assertTrue(out.endsWith("loaded" + System.lineSeparator()), out);
    }

    @Test
    void aFailedLoadKeepsTheJvmsMessageFirstThenNamesTheDoctorWithTheProgramsOptions() throws Exception {
        // Not a library, in a folder with a blank: the doctor's command line must quote it.
        Path folder = Files.createTempDirectory("a folder ");
        String notLibrary = Files.write(folder.resolve(FILE), "not a library".getBytes(StandardCharsets.US_ASCII))
                .toString();
        String out = run("-Djqel.debug=true", "-Djqel.library=" + notLibrary);
        List<String> lines = Arrays.asList(out.split(System.lineSeparator()));
        int error = lines.indexOf(lines.stream().filter(l -> l.startsWith("java.lang.UnsatisfiedLinkError: "))
                .findFirst().orElse(""));
        assertTrue(error >= 0, out);
        String jvmMessage = lines.get(error).substring("java.lang.UnsatisfiedLinkError: ".length());
        assertTrue(jvmMessage.contains(notLibrary), out);
        assertTrue(lines.contains("jqel.debug: loading the file that jqel.library names: " + notLibrary), out);
        assertTrue(lines.contains("jqel.debug: the load failed: " + jvmMessage), out);
        // The runner gives this JVM's library path, and the last -D of a name counts. The
        // doctor is named by its path where it lies beside jqel-api.jar; Linux's loader
        // reads LD_LIBRARY_PATH.
        File doctor = new File(new File(System.getProperty("jqel.tests.classpath").split(":")[0]).getParentFile(),
                "jqel-doctor.jar");
        assertEquals("To find out why, run the loading doctor from the release archive with the program's"
                + " LD_LIBRARY_PATH and current folder: " + System.getProperty("java.home") + "/bin/java"
                + " -Djava.library.path=" + LIBRARY_PATH + " '-Djqel.library=" + notLibrary + "' -jar "
                + (doctor.isFile() ? doctor.getPath() : "jqel-doctor.jar"), lines.get(error + 1), out);
        assertEquals("cause: java.lang.UnsatisfiedLinkError: " + jvmMessage, lines.get(error + 2), out);
    }

    /**
     * A jqel.library that names no regular file gets this library's error,
     * naming it, before the JVM's loader sees it (which, given a folder,
     * warns of the stack guard: Agent.runJvm fails on any warning). The
     * outcome holds: isAvailable() says so without throwing, every JQelAgent
     * throws the load's error, and each class's first use throws it too.
     */
    @Test
    void withoutALibraryAvailabilitySaysWhyAndEveryUseThrowsTheLoadsError() throws Exception {
        File folder = Files.createTempDirectory("jqel").toFile();
        for (String[] row : new String[][] {
            {folder.getPath(), "which is a folder, not the library file"},
            {new File(folder, FILE).getPath(), "which does not exist"}}) {
            String error = "java.lang.UnsatisfiedLinkError: jqel.library names " + row[0] + ", " + row[1];
            assertEquals(Arrays.asList("available: false", "cause: " + error, "JQelAgent: " + error,
                    "JQelAgent: " + error, "JQelAgentMessage: java.lang.UnsatisfiedLinkError",
                    "JQelMessage: java.lang.UnsatisfiedLinkError", "JQelMonValue: java.lang.UnsatisfiedLinkError"),
                    availability("-Djqel.library=" + row[0]));
        }
        assertEquals(Arrays.asList("available: true", "cause: null", "JQelAgent: made", "JQelAgent: made",
                "JQelAgentMessage: initialized", "JQelMessage: initialized", "JQelMonValue: initialized"),
                availability());
    }

    /** A library file that records another version than the jar's: one warning line names both and the file. */
    @Test
    void aLibraryOfAnotherVersionLoadsWithAWarningNamingBoth() throws Exception {
        assumeTrue(!SHIM, "the shim records no version; the DLL's is read in LibraryFileTest");
        byte[] library = Files.readAllBytes(new File(LIBRARY_PATH, FILE).toPath());
        String other = VERSION.replaceAll("[0-9]", "9");
        String mark = "@(#)JQelAgtMsg " + VERSION + "\0";
        int at = new String(library, StandardCharsets.ISO_8859_1).indexOf(mark);
        assertTrue(at > 0, "the library records its version");
        byte[] patch = ("@(#)JQelAgtMsg " + other).getBytes(StandardCharsets.US_ASCII);
        System.arraycopy(patch, 0, library, at, patch.length);
        Path copy = Files.write(Files.createTempDirectory("jqel").resolve(FILE), library);
        assertEquals("jqel: warning: " + copy + " is version " + other + " of JQelAgtMsg, but jqel-api.jar is version "
                + VERSION + ": take both from one release" + System.lineSeparator() + "loaded" + System.lineSeparator(),
                run("-Djqel.library=" + copy));
    }
}
