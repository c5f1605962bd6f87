package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
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
     * Fails unless it exits with 0 and prints no warning (see {@link #warnings}).
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
        assertEquals(Collections.emptyList(), warnings(out), out);
        return out;
    }

    /**
     * The lines of a JVM's output that report a fault by the rules of tests/jvm_warnings.txt,
     * which the shell scripts judge by too, read from the path in the system property
     * jqel.jvm.warnings: each line that contains the text of a "fault" or a "warning" rule,
     * but for those that are exactly an "exempt" one.
     */
    static List<String> warnings(String output) throws IOException {
        String path = System.getProperty("jqel.jvm.warnings");
        if (path == null || path.isEmpty()) {
            throw new IllegalStateException("the system property jqel.jvm.warnings is not set:"
                    + " give it the path of tests/jvm_warnings.txt");
        }
        List<String> flagged = new ArrayList<>();
        List<String> exempt = new ArrayList<>();
        for (String rule : Files.readAllLines(Paths.get(path), StandardCharsets.UTF_8)) {
            if (rule.isEmpty() || rule.startsWith("#")) continue;
            int space = rule.indexOf(' ');
            String kind = space < 0 ? rule : rule.substring(0, space);
            if (kind.equals("fault") || kind.equals("warning")) {
                flagged.add(rule.substring(space + 1));
            } else if (kind.equals("exempt")) {
                exempt.add(rule.substring(space + 1));
            } else {
                throw new IllegalStateException(path + ": a rule of no known kind: " + rule);
            }
        }
        if (flagged.isEmpty()) throw new IllegalStateException(path + " holds no fault rule");
        List<String> found = new ArrayList<>();
        for (String line : output.split("\\r?\\n")) {
            if (exempt.contains(line)) continue;
            for (String text : flagged) {
                if (line.contains(text)) {
                    found.add(line);
                    break;
                }
            }
        }
        return found;
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
