package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.brenn.varnis.tq.api.jqel.JQelMessage;
import java.nio.charset.StandardCharsets;
import java.util.Collections;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.IntStream;
import java.util.stream.Stream;
import jqel.standin.StandIn;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** Listing a message's CMA names into myStringArray, in a real JVM. */
class NamesTest {
    long message;
    final JQelMessage jq = new JQelMessage();

    @BeforeEach
    void freshMessage() {
        message = Agent.freshMessage();
    }

    void set(String... names) {
        for (String n : names) assertEquals(0, jq.QelSetCMA(message, n, "value of " + n));
    }

    static Stream<Arguments> lists() {
        return Stream.of(
                Arguments.of("one name", new String[] {"only"}),
                Arguments.of("a few, non-ASCII and beyond U+FFFF",
                        new String[] {"zeta", "Grüße", "名前", "𝄞\uD83D\uDE00", "", "a\u0000b"}),
                Arguments.of("100,000 names", IntStream.range(0, 100_000).mapToObj(i -> "name-" + (99_999 - i))
                        .toArray(String[]::new)),
                Arguments.of("ASCII runs of every length to 600, each before a non-ASCII char",
                        IntStream.rangeClosed(0, 600).mapToObj(k -> Agent.repeat("a", k) + "ü").toArray(String[]::new)));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("lists")
    void foundNamesArriveInTheAgentsOrder(String label, String[] names) {
        set(names);
        assertEquals(0, jq.QelGetCMANames(message));
        assertArrayEquals(names, jq.myStringArray);
    }

    @Test
    void callsThatFindNoNamesLeaveTheFieldAsItWas() {
        String[] before = {"from an earlier call"};
        Case[] cases = {
            new Case("no CMAs", () -> {}, 0),
            new Case("negative count", () -> StandIn.nextNamesCount(-1), 0),
            new Case("failing operation", () -> StandIn.forceNextResult(StandIn.OP_CMA_NAMES, -42), -42),
            new Case("unknown handle", () -> StandIn.destroy(message), StandIn.E_UNKNOWN_HANDLE),
        };
        for (Case c : cases) {
            jq.myStringArray = before;
            c.arrange.run();
            assertEquals(c.rc, jq.QelGetCMANames(message), c.label);
            assertSame(before, jq.myStringArray, c.label);
        }
    }

    @Test
    void aNameThatDoesNotConvertIsNullAtItsIndex() {
        set("first");
        byte[] bad = {'b', 'a', 'd', (byte) 0xFF};
        assertEquals(0, StandIn.putCma(message, bad, "v".getBytes(StandardCharsets.US_ASCII)));
        set("third");
        assertEquals(0, jq.QelGetCMANames(message));
        assertEquals(3, jq.myStringArray.length);
        assertEquals("first", jq.myStringArray[0]);
        assertNull(jq.myStringArray[1]);
        assertEquals("third", jq.myStringArray[2]);
    }

    @Test
    void namesAgreeWithSetAndRemove() {
        set("a", "b", "c");
        assertEquals(0, jq.QelRemoveCMA(message, "b"));
        set("d", "a"); // setting an existing name keeps its place
        assertEquals(0, jq.QelGetCMANames(message));
        assertArrayEquals(new String[] {"a", "c", "d"}, jq.myStringArray);
        for (String n : jq.myStringArray) {
            assertEquals(0, jq.QelGetCMA(message, n));
            assertEquals("value of " + n, jq.myQelDataString);
        }
    }

    @Test
    void aListTooLongForTheJavaHeapThrowsOutOfMemoryErrorAndIsFreed() throws Exception {
        // 3 million names need a 12 MB array of references, more than an 8 MB
        // heap holds; the names themselves take 48 MB (32-bit) or 96 MB of C heap.
        String out = Agent.runJvm(System.getProperty("jqel.tests.classpath"), Collections.singletonList("-Xmx8m"),
                "jqel.tests.TooManyNames", "3000000");
        assertTrue(out.contains("threw java.lang.OutOfMemoryError"), out);
        assertTrue(out.contains("field kept: true"), out);
        Matcher heap = Pattern.compile("C heap in use: (-?\\d+), growth (-?\\d+)").matcher(out);
        assertTrue(heap.find() && Long.parseLong(heap.group(1)) > 0, out);
        assertTrue(Long.parseLong(heap.group(2)) < 8 << 20, out);
        assertTrue(out.contains("then returned 0: name-0,name-1,name-2"), out);
    }
}
