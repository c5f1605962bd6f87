package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import jqel.standin.StandIn;

/** Shared helpers for tests that run against the stand-in agent. */
final class Agent {
    private Agent() {}

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
     * Fails unless it exits with 0 and prints no warning.
     */
    static String runJvm(String classPath, List<String> options, String mainClass, String... args)
            throws Exception {
        List<String> command = new ArrayList<>(List.of(System.getProperty("jqel.java").split(" ")));
        command.addAll(List.of("-Xcheck:jni", "-Djava.library.path=" + System.getProperty("java.library.path")));
        command.addAll(options);
        command.addAll(List.of("-cp", classPath, mainClass));
        command.addAll(List.of(args));
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, p.waitFor(), out);
        assertFalse(out.contains("WARNING"), out);
        return out;
    }
}
