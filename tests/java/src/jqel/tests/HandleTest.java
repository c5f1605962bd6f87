package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;
import com.brenn.varnis.tq.api.jqel.JQelMessage;
import com.brenn.varnis.tq.api.jqel.JQelMonValue;
import java.util.Arrays;
import java.util.List;
import java.util.function.LongUnaryOperator;
import java.util.stream.Stream;
import jqel.standin.StandIn;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The message handle of every native, as the agent receives it in this JVM. */
class HandleTest {
    final JQelMessage jq = new JQelMessage();
    long message, monValue;

    interface Call {
        int on(JQelMessage jq, long handle);
    }

    /** A native, the operation it reaches, and the object it works on (a message or a monitor value). */
    static final class Native {
        final String name;
        final int op;
        final boolean onMonValue;
        final Call call;

        Native(String name, int op, boolean onMonValue, Call call) {
            this.name = name;
            this.op = op;
            this.onMonValue = onMonValue;
            this.call = call;
        }

        @Override
        public String toString() {
            return name;
        }
    }

    static final List<Native> NATIVES = Arrays.asList(
            new Native("QelAgtMessageSend", StandIn.OP_MESSAGE_SEND, false,
                    (jq, h) -> JQelAgentMessage.QelAgtMessageSend(h)),
            new Native("QelAgtMessageAck", StandIn.OP_MESSAGE_ACK, false, (jq, h) -> JQelAgentMessage.QelAgtMessageAck(h)),
            new Native("QelMonValueSend", StandIn.OP_MONVALUE_SEND, true, (jq, h) -> JQelMonValue.QelMonValueSend(h)),
            new Native("QelSetCMA", StandIn.OP_CMA_SET, false, (jq, h) -> jq.QelSetCMA(h, "k", "new")),
            new Native("QelGetCMA", StandIn.OP_CMA_GET, false, (jq, h) -> jq.QelGetCMA(h, "k")),
            new Native("QelRemoveCMA", StandIn.OP_CMA_REMOVE, false, (jq, h) -> jq.QelRemoveCMA(h, "k")),
            new Native("QelGetCMANames", StandIn.OP_CMA_NAMES, false, (jq, h) -> jq.QelGetCMANames(h)));

    @BeforeEach
    void sentMessageWithOneCma() {
        message = Agent.freshMessage();
        monValue = StandIn.newMonValue();
        assertEquals(0, jq.QelSetCMA(message, "k", "v"));
        assertEquals(0, JQelAgentMessage.QelAgtMessageSend(message));
    }

    @Test
    void theJvmHasThePointerWidthTheLibraryWasBuiltFor() {
        // Set by the build: a 32-bit build must be tested in a 32-bit JVM.
        assertEquals(System.getProperty("jqel.expected.data.model"), System.getProperty("sun.arch.data.model"));
    }

    /** A handle made from the real one. */
    static final class Handle {
        final String label;
        final LongUnaryOperator of;

        Handle(String label, LongUnaryOperator of) {
            this.label = label;
            this.of = of;
        }

        @Override
        public String toString() {
            return label;
        }
    }

    static Stream<Arguments> nativesAndHandles() {
        List<Handle> handles = Arrays.asList(
                new Handle("handle 0", real -> 0L),
                new Handle("real handle with high bits flipped", real -> real ^ 0xA5A5A5A5_00000000L));
        return NATIVES.stream().flatMap(n -> handles.stream().map(h -> Arguments.of(n, h)));
    }

    // In a 32-bit JVM the agent gets the low 32 bits, so a real handle with
    // its high bits changed still reaches its object; in a 64-bit JVM it gets
    // all 64 bits, which name no object.
    @ParameterizedTest(name = "{0}, {1}")
    @MethodSource("nativesAndHandles")
    void theAgentReceivesTheHandleAtPointerWidth(Native n, Handle h) {
        long real = n.onMonValue ? monValue : message;
        long handle = h.of.applyAsLong(real);
        boolean reachesObject = Agent.asAgentSees(handle) == real;
        assertEquals(!Agent.IS_64_BIT && handle != 0, reachesObject);

        int rc = n.call.on(jq, handle);

        assertEquals(Agent.asAgentSees(handle), StandIn.lastHandle(n.op));
        assertEquals(reachesObject ? StandIn.OK : StandIn.E_UNKNOWN_HANDLE, rc);
        if (n.op == StandIn.OP_CMA_GET) assertEquals(reachesObject ? "v" : "", jq.myQelDataString);
        if (n.op == StandIn.OP_CMA_NAMES) assertArrayEquals(reachesObject ? new String[] {"k"} : null, jq.myStringArray);
    }
}
