package jqel.demo;

import com.brenn.varnis.tq.api.jqel.JQelAgent;
import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;
import com.brenn.varnis.tq.api.jqel.JQelException;
import com.brenn.varnis.tq.api.jqel.JQelMessage;
import com.brenn.varnis.tq.api.jqel.JQelMonValue;
import java.util.function.IntSupplier;
import jqel.standin.StandIn;

/**
 * The library at work against the stand-in agent: makes a message and a
 * monitor value, then calls the natives on them, printing each call, its
 * arguments, its result code and what the agent received; last, the same
 * through the facade JQelAgent, as the README's example does it.
 */
public final class Demo {
    private Demo() {}

    public static void main(String[] args) {
        long message = StandIn.newMessage();
        long monValue = StandIn.newMonValue();
        System.out.printf("JQelAgtMsg demo, against the stand-in agent (%s-bit JVM)%n",
                System.getProperty("sun.arch.data.model"));
        System.out.printf("agent made message %s and monitor value %s%n%n", hex(message), hex(monValue));

        JQelMessage cmas = new JQelMessage();
        String[][] attributes = {{"customer", "ACME Ltd"}, {"city", "Zürich"}, {"greeting", "こんにちは 👋"}};
        for (String[] a : attributes) {
            call("JQelMessage.QelSetCMA", hex(message) + ", " + quote(a[0]) + ", " + quote(a[1]), StandIn.OP_CMA_SET,
                    () -> cmas.QelSetCMA(message, a[0], a[1]));
        }
        call("JQelMessage.QelGetCMA", hex(message) + ", \"city\"", StandIn.OP_CMA_GET,
                () -> cmas.QelGetCMA(message, "city"));
        System.out.printf("    myQelDataString = %s%n", quote(cmas.myQelDataString));
        listNames(cmas, message);
        call("JQelMessage.QelRemoveCMA", hex(message) + ", \"customer\"", StandIn.OP_CMA_REMOVE,
                () -> cmas.QelRemoveCMA(message, "customer"));
        listNames(cmas, message);
        call("JQelMessage.QelGetCMA", hex(message) + ", \"customer\"", StandIn.OP_CMA_GET,
                () -> cmas.QelGetCMA(message, "customer"));
        System.out.printf("    myQelDataString = %s%n", quote(cmas.myQelDataString));

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

        long fresh = StandIn.newMessage();
        System.out.printf("%nThe same through JQelAgent, on a new message %s:%n", hex(fresh));
        facade(fresh);
    }

    /** The README's and the guide's example, line for line (tools/check-docs.sh holds them to it). */
    static void facade(long message) {
        // example begins
        JQelAgent agent = new JQelAgent();  // one object for every thread
        agent.setCma(message, "customer", "ACME Ltd");
        System.out.println(agent.getCma(message, "customer"));
        for (String name : agent.getCmaNames(message)) {
            System.out.println(name);
        }
        try {
            agent.acknowledgeMessage(message);
        } catch (JQelException e) {  // the agent's result code was not 0
            System.out.println(e.operation() + ": " + e.code());
        }
        // example ends
    }

    static void listNames(JQelMessage cmas, long message) {
        call("JQelMessage.QelGetCMANames", hex(message), StandIn.OP_CMA_NAMES, () -> cmas.QelGetCMANames(message));
        StringBuilder names = new StringBuilder();
        for (String n : cmas.myStringArray) names.append(names.length() == 0 ? "" : ", ").append(quote(n));
        System.out.printf("    myStringArray = [%s]%n", names);
    }

    static void call(String method, String arguments, int op, IntSupplier call) {
        int rc = call.getAsInt();
        System.out.printf("%s(%s) = %d %s%n", method, arguments, rc, codeName(rc));
        System.out.printf("    agent received handle %s", hex(StandIn.lastHandle(op)));
        byte[] name = StandIn.lastName(op), value = StandIn.lastValue(op);
        if (name != null) System.out.printf(", name %s", bytes(name));
        if (value != null) System.out.printf(", value %s", bytes(value));
        System.out.println();
    }

    static String bytes(byte[] nativeText) {
        StringBuilder hex = new StringBuilder();
        for (byte b : nativeText) if (b < 0) hex.append(String.format("\\x%02X", b & 0xFF)); else hex.append((char) b);
        return quote(hex.toString()) + " (" + nativeText.length + " bytes)";
    }

    static String quote(String s) {
        return s == null ? "null" : "\"" + s + "\"";
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
