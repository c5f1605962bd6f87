package jqel.demo;

import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;
import com.brenn.varnis.tq.api.jqel.JQelMonValue;
import java.util.function.IntSupplier;
import jqel.standin.StandIn;

/**
 * The library at work against the stand-in agent: makes a message and a
 * monitor value, then calls the natives on them, printing each call, its
 * arguments, its result code and what the agent received.
 */
public final class Demo {
    private Demo() {}

    public static void main(String[] args) {
        long message = StandIn.newMessage();
        long monValue = StandIn.newMonValue();
        System.out.printf("JQelAgtMsg demo, against the stand-in agent (%s-bit JVM)%n",
                System.getProperty("sun.arch.data.model"));
        System.out.printf("agent made message %s and monitor value %s%n%n", hex(message), hex(monValue));

        call("JQelAgentMessage.QelAgtMessageSend", hex(message), StandIn.OP_MESSAGE_SEND,
                () -> JQelAgentMessage.QelAgtMessageSend(message));
        state("message", message);
        call("JQelAgentMessage.QelAgtMessageAck", hex(message), StandIn.OP_MESSAGE_ACK,
                () -> JQelAgentMessage.QelAgtMessageAck(message));
        state("message", message);
        call("JQelMonValue.QelMonValueSend", hex(monValue), StandIn.OP_MONVALUE_SEND,
                () -> JQelMonValue.QelMonValueSend(monValue));
        state("monitor value", monValue);
        call("JQelAgentMessage.QelAgtMessageAck", hex(monValue) + " (not a message)",
                StandIn.OP_MESSAGE_ACK, () -> JQelAgentMessage.QelAgtMessageAck(monValue));
    }

    static void call(String method, String arguments, int op, IntSupplier call) {
        int rc = call.getAsInt();
        System.out.printf("%s(%s) = %d %s%n", method, arguments, rc, codeName(rc));
        System.out.printf("    agent received handle %s%n", hex(StandIn.lastHandle(op)));
    }

    static void state(String what, long handle) {
        System.out.printf("    %s now sent %d time(s), acknowledged %d time(s)%n",
                what, StandIn.sentCount(handle), Math.max(0, StandIn.ackCount(handle)));
    }

    static String hex(long handle) {
        return String.format("0x%x", handle);
    }

    static String codeName(int rc) {
        switch (rc) {
            case StandIn.OK: return "(OK)";
            case StandIn.E_UNKNOWN_HANDLE: return "(unknown handle)";
            case StandIn.E_WRONG_KIND: return "(wrong kind of object)";
            case StandIn.E_NO_SUCH_CMA: return "(no such CMA)";
            case StandIn.E_INVALID_ARGUMENT: return "(invalid argument)";
            case StandIn.E_NOT_SENT: return "(not sent)";
            default: return "";
        }
    }
}
