package jqel.tests;

import com.brenn.varnis.tq.api.jqel.JQelMessage;
import jqel.standin.StandIn;

/**
 * Run in a JVM with a small heap: the agent hands over more names than a Java
 * array there can hold. Reports what the caller saw and how much of the C heap
 * the call left behind.
 */
public final class TooManyNames {
    private TooManyNames() {}

    public static void main(String[] args) {
        int count = Integer.parseInt(args[0]);
        long message = StandIn.newMessage();
        JQelMessage jq = new JQelMessage();
        String[] before = {"from an earlier call"};
        jq.myStringArray = before;

        long heapBefore = StandIn.heapInUse();
        StandIn.nextNamesCount(count);
        try {
            System.out.println("returned " + jq.QelGetCMANames(message));
        } catch (OutOfMemoryError e) {
            System.out.println("threw " + e);
        }
        System.out.println("C heap in use: " + heapBefore + ", growth " + (StandIn.heapInUse() - heapBefore));
        System.out.println("field kept: " + (jq.myStringArray == before));

        // The library and the agent still work after the failure.
        StandIn.nextNamesCount(3);
        System.out.println("then returned " + jq.QelGetCMANames(message) + ": " + String.join(",", jq.myStringArray));
    }
}
