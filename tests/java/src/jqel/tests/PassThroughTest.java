package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;
import com.brenn.varnis.tq.api.jqel.JQelMonValue;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.function.LongToIntFunction;
import java.util.stream.Stream;
import jqel.standin.StandIn;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The natives that only pass a handle to the agent and its result code back. */
class PassThroughTest {
    static final class Native {
        final String name;
        final int op;
        final LongToIntFunction call;

        Native(String name, int op, LongToIntFunction call) {
            this.name = name;
            this.op = op;
            this.call = call;
        }

        @Override
        public String toString() {
            return name;
        }
    }

    static final List<Native> NATIVES = Arrays.asList(
            new Native("QelAgtMessageSend", StandIn.OP_MESSAGE_SEND, JQelAgentMessage::QelAgtMessageSend),
            new Native("QelAgtMessageAck", StandIn.OP_MESSAGE_ACK, JQelAgentMessage::QelAgtMessageAck),
            new Native("QelMonValueSend", StandIn.OP_MONVALUE_SEND, JQelMonValue::QelMonValueSend));

    @BeforeEach
    void reset() {
        StandIn.reset();
    }

    static Stream<Arguments> nativesAndHandles() {
        long[] handles = {0L, -1L, Long.MIN_VALUE, 0x1234567800000042L};
        return NATIVES.stream().flatMap(n -> Arrays.stream(handles).mapToObj(h -> Arguments.of(n, h)));
    }

    @ParameterizedTest(name = "{0} handle {1}")
    @MethodSource("nativesAndHandles")
    void handleReachesAgentAtPointerWidth(Native n, long handle) {
        assertEquals(StandIn.E_UNKNOWN_HANDLE, n.call.applyAsInt(handle));
        assertEquals(Agent.asAgentSees(handle), StandIn.lastHandle(n.op));
        assertEquals(1, StandIn.calls(n.op));
    }

    static Stream<Arguments> nativesAndCodes() {
        int[] codes = {0, 1, -1, Integer.MIN_VALUE, Integer.MAX_VALUE};
        return NATIVES.stream().flatMap(n -> Arrays.stream(codes).mapToObj(c -> Arguments.of(n, c)));
    }

    @ParameterizedTest(name = "{0} returns {1}")
    @MethodSource("nativesAndCodes")
    void resultCodeComesBackUnchanged(Native n, int code) {
        StandIn.forceNextResult(n.op, code);
        assertEquals(code, n.call.applyAsInt(42L));
    }

    @Test
    void sendAcknowledgeAndMonitorValueReachTheirObjects() {
        long message = StandIn.newMessage();
        long monValue = StandIn.newMonValue();
        assertEquals(StandIn.E_NOT_SENT, JQelAgentMessage.QelAgtMessageAck(message));
        assertEquals(StandIn.OK, JQelAgentMessage.QelAgtMessageSend(message));
        assertEquals(StandIn.OK, JQelAgentMessage.QelAgtMessageAck(message));
        assertEquals(StandIn.OK, JQelMonValue.QelMonValueSend(monValue));
        assertEquals(StandIn.E_WRONG_KIND, JQelMonValue.QelMonValueSend(message));
        assertEquals(StandIn.E_WRONG_KIND, JQelAgentMessage.QelAgtMessageSend(monValue));
        assertEquals(1, StandIn.sentCount(message));
        assertEquals(1, StandIn.ackCount(message));
        assertEquals(1, StandIn.sentCount(monValue));
    }

    @Test
    void callsFromManyThreadsAtOnceEachReachTheirOwnObject() throws Exception {
        int threads = 8, rounds = 2000;
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        try {
            List<Future<long[]>> results = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                results.add(pool.submit(() -> {
                    long message = StandIn.newMessage(), monValue = StandIn.newMonValue();
                    for (int i = 0; i < rounds; i++) {
                        assertEquals(0, JQelAgentMessage.QelAgtMessageSend(message));
                        assertEquals(0, JQelAgentMessage.QelAgtMessageAck(message));
                        assertEquals(0, JQelMonValue.QelMonValueSend(monValue));
                    }
                    return new long[] {message, monValue};
                }));
            }
            for (Future<long[]> f : results) {
                long[] handles = f.get();
                assertEquals(rounds, StandIn.sentCount(handles[0]));
                assertEquals(rounds, StandIn.ackCount(handles[0]));
                assertEquals(rounds, StandIn.sentCount(handles[1]));
            }
        } finally {
            pool.shutdownNow();
        }
    }
}
