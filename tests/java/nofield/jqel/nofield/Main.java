package jqel.nofield;

import com.brenn.varnis.tq.api.jqel.JQelMessage;
import jqel.standin.StandIn;

/** Calls QelGetCMA on a receiver whose class lacks the field, and reports what happened. */
public final class Main {
    private Main() {}

    public static void main(String[] args) {
        long message = StandIn.newMessage();
        try {
            int rc = new JQelMessage().QelGetCMA(message, "k");
            System.out.println("returned " + rc);
        } catch (Throwable t) {
            System.out.println("threw " + t);
        }
        System.out.println("agent calls: " + StandIn.calls(StandIn.OP_CMA_GET));
    }
}
