package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * What a load tells the user, each in a JVM of its own, as a library loads once
 * per JVM: with -Djqel.debug=true the places tried, in order, the file taken
 * and the jar's version, once for the three classes; and a failed load's error,
 * the JVM's message first, then the doctor's command line with the program's
 * options.
 */
class LoadingTest {
    private static final String LIBRARY_PATH = System.getProperty("java.library.path");
    private static final String FILE = System.mapLibraryName("JQelAgtMsg");

    @Test
    void withDebugALoadNamesItsPlacesTheFileItTookAndTheJarsVersionOnce() throws Exception {
        String out = Agent.runJvm(System.getProperty("jqel.tests.classpath"),
                Arrays.asList("-Djqel.debug=true"), "jqel.tests.LoadMain");
        File taken = new File(LIBRARY_PATH, FILE);
        String boot = new File(System.getProperty("sun.boot.library.path").split(File.pathSeparator)[0], FILE)
                + " (sun.boot.library.path): not there";
        String found = taken + " (java.library.path): found";
        String loaded = "jqel.debug: loaded " + taken.getAbsolutePath()
                + (taken.getCanonicalPath().equals(taken.getAbsolutePath()) ? "" : " -> " + taken.getCanonicalPath());
        assertTrue(out.contains("jqel.debug: com.brenn.varnis.tq.api.jqel "
                + System.getProperty("jqel.expected.version") + ", from file:"), out);
        assertTrue(out.indexOf(boot) >= 0 && out.indexOf(boot) < out.indexOf(found), out);
        assertTrue(out.contains(loaded + System.lineSeparator()), out);
        assertEquals(out.indexOf("jqel.debug: loaded"), out.lastIndexOf("jqel.debug: loaded"), out);
        assertTrue(out.endsWith("loaded" + System.lineSeparator()), out);
    }

    @Test
    void aFailedLoadKeepsTheJvmsMessageFirstThenNamesTheDoctorWithTheProgramsOptions() throws Exception {
        // A blank in the path: the doctor's command line must quote it.
        String missing = new File(System.getProperty("java.io.tmpdir"), "no such folder/" + FILE).getPath();
        String out = Agent.runJvm(System.getProperty("jqel.tests.classpath"),
                Arrays.asList("-Djqel.debug=true", "-Djqel.library=" + missing), "jqel.tests.LoadMain");
        List<String> lines = Arrays.asList(out.split(System.lineSeparator()));
        int error = lines.indexOf(lines.stream().filter(l -> l.startsWith("java.lang.UnsatisfiedLinkError: "))
                .findFirst().orElse(""));
        assertTrue(error >= 0, out);
        String jvmMessage = lines.get(error).substring("java.lang.UnsatisfiedLinkError: ".length());
        assertTrue(jvmMessage.contains(missing), out);
        assertTrue(lines.contains("jqel.debug: loading the file that jqel.library names: " + missing), out);
        assertTrue(lines.contains("jqel.debug: the load failed: " + jvmMessage), out);
        // The runner gives this JVM's library path, and the last -D of a name counts.
        assertEquals("To find out why, run the loading doctor from the release archive with the program's"
                + " PATH and current folder: " + System.getProperty("java.home") + "/bin/java"
                + " -Djava.library.path=" + LIBRARY_PATH + " '-Djqel.library=" + missing + "' -jar jqel-doctor.jar",
                lines.get(error + 1), out);
        assertEquals("cause: java.lang.UnsatisfiedLinkError: " + jvmMessage, lines.get(error + 2), out);
    }
}
