package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import jqel.standin.StandIn;

/** Shared helpers for tests that run against the stand-in agent. */
final class Agent {
    private Agent() {}

    /** What Java 8's launcher prints under -Xcheck:jni for each argument it passes to main. */
    static final String JDK8_LAUNCHER_WARNING = "WARNING in native method: JNI call made without checking exceptions"
            + " when required to from CallStaticObjectMethod";

    static final boolean IS_64_BIT = "64".equals(System.getProperty("sun.arch.data.model"));

    /** The handle as the agent receives it: every bit that fits in a pointer. */
    static long asAgentSees(long handle) {
        return IS_64_BIT ? handle : handle & 0xFFFFFFFFL;
    }

    /** A fresh agent with one new message. */
    static long freshMessage() {
        StandIn.reset();
        return StandIn.newMessage();
    }

    /**
     * Runs {@code mainClass} in a JVM of its own, started with the command that started this one
     * (property jqel.java), -Xcheck:jni and this JVM's library path, and returns what it printed.
     * Fails unless it exits with 0 and prints no warning but the one that Java 8's launcher
     * prints for each argument of the main method (see tests/java/jni_warnings.sh).
     */
    static String runJvm(String classPath, List<String> options, String mainClass, String... args)
            throws Exception {
        List<String> command = new ArrayList<>(Arrays.asList(System.getProperty("jqel.java").split(" ")));
        Collections.addAll(command, "-Xcheck:jni", "-Djava.library.path=" + System.getProperty("java.library.path"));
        command.addAll(options);
        Collections.addAll(command, "-cp", classPath, mainClass);
        Collections.addAll(command, args);
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        String out = new String(readAll(p.getInputStream()), StandardCharsets.UTF_8);
        assertEquals(0, p.waitFor(), out);
        assertFalse(out.replace(JDK8_LAUNCHER_WARNING + System.lineSeparator(), "").contains("WARNING"), out);
        return out;
    }

    private static byte[] readAll(InputStream in) throws IOException {
        ByteArrayOutputStream all = new ByteArrayOutputStream();
        byte[] buffer = new byte[8192];
        for (int n; (n = in.read(buffer)) > 0; ) all.write(buffer, 0, n);
        return all.toByteArray();
    }

    /** {@code text} {@code count} times over. */
    static String repeat(String text, int count) {
        StringBuilder all = new StringBuilder(text.length() * count);
        for (int i = 0; i < count; i++) all.append(text);
        return all.toString();
    }
}
