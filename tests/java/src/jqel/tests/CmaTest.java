package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.brenn.varnis.tq.api.jqel.JQelMessage;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.function.Consumer;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import java.util.stream.Stream;
import jqel.standin.StandIn;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** Setting, reading and removing CMAs through the library, in a real JVM. */
class CmaTest {
    long message;
    final JQelMessage jq = new JQelMessage();

    @BeforeEach
    void freshMessage() {
        message = Agent.freshMessage();
    }

    static Stream<Arguments> texts() {
        return Stream.of(
                Arguments.of("ASCII", "colour", "blue"),
                Arguments.of("empty name and value", "", ""),
                Arguments.of("accented", "Grüße", "Zoë à la café"),
                Arguments.of("non-Latin", "名前", "Привет, мир; γειά σου"),
                Arguments.of("U+0000 inside", "a\u0000b", "\u0000x\u0000"),
                Arguments.of("beyond U+FFFF", "\uD83D\uDE00", "𝄞 clef and 😀"),
                Arguments.of("lone surrogates", "\uD800", "x\uDC00y"),
                Arguments.of("3 MiB value", "big", Agent.repeat("ä€😀x", 3 << 18)),
                Arguments.of("ASCII runs of every length to 600, each before a non-ASCII char",
                        asciiRuns("é"), asciiRuns("😀")));
    }

    /** "c", "ac", "aac", ... up to 600 a's before c: ASCII runs that end at every offset. */
    static String asciiRuns(String c) {
        return IntStream.rangeClosed(0, 600).mapToObj(k -> Agent.repeat("a", k) + c).collect(Collectors.joining());
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("texts")
    void setGetAndRemoveRoundTrip(String label, String name, String value) {
        assertEquals(0, jq.QelSetCMA(message, name, value));
        assertArrayEquals(StandIn.nativeBytes(name), StandIn.lastName(StandIn.OP_CMA_SET));
        assertArrayEquals(StandIn.nativeBytes(value), StandIn.lastValue(StandIn.OP_CMA_SET));

        assertEquals(0, jq.QelGetCMA(message, name));
        assertEquals(value, jq.myQelDataString);

        assertEquals(0, jq.QelRemoveCMA(message, name));
        assertArrayEquals(StandIn.nativeBytes(name), StandIn.lastName(StandIn.OP_CMA_REMOVE));
        assertEquals(StandIn.E_NO_SUCH_CMA, jq.QelGetCMA(message, name));
        assertEquals("", jq.myQelDataString);
    }

    @Test
    void getWritesTheFieldWhateverTheResultAndNeverAnEarlierValue() {
        List<Case> cases = Arrays.asList(
                new Case("agent leaves the value null", () -> StandIn.nextGetLeavesSlotNull(0), 0),
                new Case("null value and a failure", () -> StandIn.nextGetLeavesSlotNull(-3), -3),
                new Case("forced failure", () -> StandIn.forceNextResult(StandIn.OP_CMA_GET, 77), 77),
                new Case("no such CMA", () -> jq.QelRemoveCMA(message, "present"), StandIn.E_NO_SUCH_CMA),
                new Case("unknown handle", () -> StandIn.destroy(message), StandIn.E_UNKNOWN_HANDLE));
        for (Case c : cases) {
            // The agent has just handed out this value to another reader.
            assertEquals(0, jq.QelSetCMA(message, "present", "earlier value"), c.label);
            assertEquals(0, new JQelMessage().QelGetCMA(message, "present"), c.label);
            jq.myQelDataString = "stale";
            c.arrange.run();
            assertEquals(c.rc, jq.QelGetCMA(message, "present"), c.label);
            assertEquals("", jq.myQelDataString, c.label);
        }
    }

    @Test
    void resultCodesComeBackUnchanged() {
        int[] codes = {0, 1, -1, Integer.MIN_VALUE, Integer.MAX_VALUE};
        for (int code : codes) {
            StandIn.forceNextResult(StandIn.OP_CMA_SET, code);
            assertEquals(code, jq.QelSetCMA(message, "n", "v"));
            StandIn.forceNextResult(StandIn.OP_CMA_GET, code);
            assertEquals(code, jq.QelGetCMA(message, "n"));
            StandIn.forceNextResult(StandIn.OP_CMA_REMOVE, code);
            assertEquals(code, jq.QelRemoveCMA(message, "n"));
        }
    }

    static final class BadCall {
        final String label;
        final Consumer<JQelMessage> call;
        final int op;
        final Class<? extends Throwable> thrown;
        final String message;
        final int conversionsBeforeFailure;

        BadCall(String label, Consumer<JQelMessage> call, int op, Class<? extends Throwable> thrown,
                String message, int conversionsBeforeFailure) {
            this.label = label;
            this.call = call;
            this.op = op;
            this.thrown = thrown;
            this.message = message;
            this.conversionsBeforeFailure = conversionsBeforeFailure;
        }

        @Override
        public String toString() {
            return label;
        }
    }

    static Stream<BadCall> badCalls() {
        long h = 1; // never reached: the agent is not called
        return Stream.of(
                new BadCall("set, null name", m -> m.QelSetCMA(h, null, "v"), StandIn.OP_CMA_SET,
                        NullPointerException.class, "name == null", -1),
                new BadCall("set, null value", m -> m.QelSetCMA(h, "n", null), StandIn.OP_CMA_SET,
                        NullPointerException.class, "value == null", -1),
                new BadCall("get, null name", m -> m.QelGetCMA(h, null), StandIn.OP_CMA_GET,
                        NullPointerException.class, "name == null", -1),
                new BadCall("remove, null name", m -> m.QelRemoveCMA(h, null), StandIn.OP_CMA_REMOVE,
                        NullPointerException.class, "name == null", -1),
                new BadCall("set, name not converted", m -> m.QelSetCMA(h, "n", "v"), StandIn.OP_CMA_SET,
                        IllegalArgumentException.class, "name cannot be converted", 0),
                new BadCall("set, value not converted", m -> m.QelSetCMA(h, "n", "v"), StandIn.OP_CMA_SET,
                        IllegalArgumentException.class, "value cannot be converted", 1),
                new BadCall("get, name not converted", m -> m.QelGetCMA(h, "n"), StandIn.OP_CMA_GET,
                        IllegalArgumentException.class, "name cannot be converted", 0),
                new BadCall("remove, name not converted", m -> m.QelRemoveCMA(h, "n"), StandIn.OP_CMA_REMOVE,
                        IllegalArgumentException.class, "name cannot be converted", 0));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("badCalls")
    void badArgumentsThrowAndNeverReachTheAgent(BadCall bad) {
        if (bad.conversionsBeforeFailure >= 0) StandIn.failNextFromUtf(bad.conversionsBeforeFailure);
        jq.myQelDataString = "untouched";
        Throwable t = assertThrows(bad.thrown, () -> bad.call.accept(jq));
        assertTrue(t.getMessage().startsWith(bad.message), t.getMessage());
        assertEquals(0, StandIn.calls(bad.op));
        assertEquals("untouched", jq.myQelDataString);
        StandIn.failNextFromUtf(-1);
    }

    static Stream<Arguments> plantedValues() {
        return Stream.of(
                Arguments.of("stray continuation byte", new byte[] {'A', (byte) 0x80, 'B'}, "A\u0080B"),
                Arguments.of("Latin-1 text", new byte[] {'c', 'a', 'f', (byte) 0xE9}, "caf\u00E9"),
                Arguments.of("bytes FF FE", new byte[] {(byte) 0xFF, (byte) 0xFE}, "\u00FF\u00FE"),
                Arguments.of("surrogate pair as two 3-byte forms",
                        new byte[] {(byte) 0xED, (byte) 0xA0, (byte) 0xBD, (byte) 0xED, (byte) 0xB8, (byte) 0x80},
                        "\uD83D\uDE00"),
                Arguments.of("valid native text", "naïve".getBytes(StandardCharsets.UTF_8), "naïve"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("plantedValues")
    void valueBytesTheConverterRejectsArriveWhole(String label, byte[] bytes, String expected) {
        assertEquals(0, StandIn.putCma(message, "k".getBytes(StandardCharsets.US_ASCII), bytes));
        assertEquals(0, jq.QelGetCMA(message, "k"));
        assertEquals(expected, jq.myQelDataString);
    }

    @Test
    void concurrentReadersEachGetTheirOwnMessagesValue() throws Exception {
        int threads = 8, rounds = 3000;
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        try {
            List<Future<Integer>> done = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                String mine = "value of thread " + t + Agent.repeat(" ", t * 7);
                done.add(pool.submit((Callable<Integer>) () -> {
                    long own = StandIn.newMessage();
                    JQelMessage reader = new JQelMessage();
                    assertEquals(0, reader.QelSetCMA(own, "k", mine));
                    for (int i = 0; i < rounds; i++) {
                        // Every third read, the agent gives no value: a slot
                        // shared between calls would show another's value here.
                        boolean empty = i % 3 == 0;
                        if (empty) StandIn.nextGetLeavesSlotNull(0);
                        assertEquals(0, reader.QelGetCMA(own, "k"));
                        assertEquals(empty ? "" : mine, reader.myQelDataString);
                    }
                    return rounds;
                }));
            }
            for (Future<Integer> f : done) assertEquals(rounds, f.get());
        } finally {
            pool.shutdownNow();
        }
    }
}
