package jqel.nofield;

import com.brenn.varnis.tq.api.jqel.JQelMessage;
import java.util.function.LongToIntFunction;
import jqel.standin.StandIn;

/** Calls the natives that write fields on a receiver whose class lacks them, and reports what happened. */
public final class Main {
    private Main() {}

    public static void main(String[] args) {
        long message = StandIn.newMessage();
        StandIn.putCma(message, new byte[] {'k'}, new byte[] {'v'});
        JQelMessage receiver = new JQelMessage();
        report("QelGetCMA", StandIn.OP_CMA_GET, h -> receiver.QelGetCMA(h, "k"), message);
        report("QelGetCMANames", StandIn.OP_CMA_NAMES, receiver::QelGetCMANames, message);
    }

    static void report(String method, int op, LongToIntFunction call, long message) {
        try {
            System.out.println(method + " returned " + call.applyAsInt(message));
        } catch (Throwable t) {
            System.out.println(method + " threw " + t);
        }
        System.out.println(method + " agent calls: " + StandIn.calls(op));
    }
}
