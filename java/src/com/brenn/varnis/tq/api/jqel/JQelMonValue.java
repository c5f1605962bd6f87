package com.brenn.varnis.tq.api.jqel;

/**
 * A monitor value, reached through its native handle. The method returns the
 * agent's result code, 0 for success.
 */
public class JQelMonValue {
    static {
        JQelLibrary.load();
    }

    /** Sends the monitor value {@code handle}. */
    public static native int QelMonValueSend(long handle);
}
