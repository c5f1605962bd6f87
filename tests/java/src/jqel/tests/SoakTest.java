package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;
import com.brenn.varnis.tq.api.jqel.JQelMessage;
import com.brenn.varnis.tq.api.jqel.JQelMonValue;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import jqel.standin.StandIn;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * Millions of calls of all seven natives in one JVM, on the paths that
 * succeed and on those that fail, must leave the process's resident memory
 * flat. Run on its own (tag "soak"), in a JVM whose Java heap is fixed and
 * touched in advance, so that resident memory grows only with native memory.
 */
@Tag("soak")
class SoakTest {
    static final int ROUNDS = Integer.getInteger("jqel.soak.rounds", 500_000);
    static final int WARM_UP = ROUNDS / 10, NAMES = 36;
    static final long MAX_GROWTH = 8 << 20;

    @Test
    void millionsOfCallsLeaveResidentMemoryFlat() throws IOException {
        long message = Agent.freshMessage(), monValue = StandIn.newMonValue();
        StandIn.setRecording(false);
        JQelMessage jq = new JQelMessage();
        for (int k = 0; k < NAMES; k++) assertEquals(0, jq.QelSetCMA(message, "name-" + k, "value " + k));
        // A value the converter rejects, read through the one-char-per-byte fallback.
        assertEquals(0, StandIn.putCma(message, new byte[] {'l'}, new byte[] {'c', 'a', 'f', (byte) 0xE9}));
        assertEquals(0, JQelAgentMessage.QelAgtMessageSend(message));

        long start = 0;
        for (int i = 0; i < ROUNDS; i++) {
            if (i == WARM_UP) start = residentBytes();
            round(jq, message, monValue, i);
        }
        long growth = residentBytes() - start;
        System.out.printf("soak: %d rounds, %d calls; resident memory after warm-up %d KiB, grew by %d KiB%n",
                ROUNDS, ROUNDS * 9L, start >> 10, growth >> 10);
        assertTrue(growth < MAX_GROWTH, "resident memory grew by " + growth + " bytes");
    }

    /** Nine calls: every native once, the value fallback, and one failing call. */
    static void round(JQelMessage jq, long message, long monValue, int i) {
        String name = "soak-" + (i & 15), value = "value of round " + i;
        assertEquals(0, jq.QelSetCMA(message, name, value));
        assertEquals(0, jq.QelGetCMA(message, name));
        assertEquals(value, jq.myQelDataString);
        assertEquals(0, jq.QelRemoveCMA(message, name));
        assertEquals(0, jq.QelGetCMANames(message));
        assertEquals(NAMES + 1, jq.myStringArray.length);
        assertEquals(0, JQelAgentMessage.QelAgtMessageSend(message));
        assertEquals(0, JQelAgentMessage.QelAgtMessageAck(message));
        assertEquals(0, JQelMonValue.QelMonValueSend(monValue));
        assertEquals(0, jq.QelGetCMA(message, "l"));
        assertEquals("caf\u00E9", jq.myQelDataString);
        switch (i % 5) {
            case 0:
                assertEquals(StandIn.E_NO_SUCH_CMA, jq.QelGetCMA(message, name));
                break;
            case 1:
                assertThrows(NullPointerException.class, () -> jq.QelSetCMA(message, name, null));
                break;
            case 2:
                StandIn.failNextFromUtf(1);
                assertThrows(IllegalArgumentException.class, () -> jq.QelSetCMA(message, name, value));
                break;
            case 3:
                StandIn.forceNextResult(StandIn.OP_CMA_NAMES, -1); // hands over an empty array
                assertEquals(-1, jq.QelGetCMANames(message));
                break;
            default:
                assertEquals(StandIn.E_NO_SUCH_CMA, jq.QelRemoveCMA(message, name));
        }
    }

    /** The process's resident memory (VmRSS). */
    static long residentBytes() throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("\\D", "")) * 1024;
        }
        throw new IOException("no VmRSS in /proc/self/status");
    }
}
