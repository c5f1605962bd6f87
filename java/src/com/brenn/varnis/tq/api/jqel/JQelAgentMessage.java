package com.brenn.varnis.tq.api.jqel;

/**
 * An agent message, reached through its native handle: sending and
 * acknowledging it. Each method returns the agent's result code, 0 for success.
 */
public class JQelAgentMessage {
    static {
        JQelLibrary.load();
    }

    /** Sends the message {@code handle}. */
    public static native int QelAgtMessageSend(long handle);

    /** Acknowledges the message {@code handle}. */
    public static native int QelAgtMessageAck(long handle);
}
