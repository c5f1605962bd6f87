package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Collections;
import org.junit.jupiter.api.Test;

/**
 * A receiver whose class lacks the fields the natives write. Such a
 * JQelMessage runs in a JVM of its own: a class bound to the library can have
 * only one definition per JVM.
 */
class ReceiverTest {
    @Test
    void aReceiverWithoutTheFieldsSeesNoSuchFieldErrorAndNothingElse() throws Exception {
        String out = Agent.runJvm(System.getProperty("jqel.nofield.classpath"), Collections.emptyList(), "jqel.nofield.Main");
        // QelGetCMA looks the field up before calling the agent; QelGetCMANames after.
        assertTrue(out.contains("QelGetCMA threw java.lang.NoSuchFieldError:")
                && out.contains("myQelDataString"), out);
        assertTrue(out.contains("QelGetCMA agent calls: 0"), out);
        assertTrue(out.contains("QelGetCMANames threw java.lang.NoSuchFieldError:")
                && out.contains("myStringArray"), out);
        assertTrue(out.contains("QelGetCMANames agent calls: 1"), out);
    }
}
