package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * A receiver whose class lacks the fields the natives write. Such a
 * JQelMessage runs in a JVM of its own: a class bound to the library can have
 * only one definition per JVM.
 */
class ReceiverTest {
    @Test
    void aReceiverWithoutTheFieldsSeesNoSuchFieldErrorAndNothingElse() throws Exception {
        List<String> command = new ArrayList<>(List.of(System.getProperty("jqel.java").split(" ")));
        command.addAll(List.of("-Xcheck:jni", "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("jqel.nofield.classpath"), "jqel.nofield.Main"));
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, p.waitFor(), out);
        // QelGetCMA looks the field up before calling the agent; QelGetCMANames after.
        assertTrue(out.contains("QelGetCMA threw java.lang.NoSuchFieldError:")
                && out.contains("myQelDataString"), out);
        assertTrue(out.contains("QelGetCMA agent calls: 0"), out);
        assertTrue(out.contains("QelGetCMANames threw java.lang.NoSuchFieldError:")
                && out.contains("myStringArray"), out);
        assertTrue(out.contains("QelGetCMANames agent calls: 1"), out);
        assertFalse(out.contains("WARNING"), out);
    }
}
