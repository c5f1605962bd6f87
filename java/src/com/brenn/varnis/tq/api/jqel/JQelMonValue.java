package com.brenn.varnis.tq.api.jqel;

/**
 * A monitor value, reached through its native handle: sending it.
 *
 * <p>The method calls one operation of the agent's programming interface,
 * {@code libqelagtapi}, through the native library {@code JQelAgtMsg}, and
 * returns that operation's result code unchanged: 0 for success, anything else
 * as the agent gave it. The codes are the agent's own; look them up in the
 * agent product's documentation of its programming interface, under the
 * monitor-value send operation. This library adds no code of its own.
 *
 * <p>The method may be called from any number of threads at once: it keeps no
 * state between calls.
 *
 * <p>The first use of this class loads the native library; if that fails, it
 * throws {@link UnsatisfiedLinkError} as {@link JQelAgentMessage} says.
 * {@link JQelAgent} offers the same operations with results as values and
 * failures as exceptions.
 */
public class JQelMonValue {
    static {
        JQelLibrary.load();
    }

    /**
     * Makes an object of this class, which has only a static method; there is
     * no need to.
     */
    public JQelMonValue() {}

    /**
     * Sends a monitor value: the agent's monitor-value send operation.
     *
     * @param handle the agent's handle of the monitor value (see the package's
     *     "Handles")
     * @return the agent's result code, unchanged: 0 for success
     */
    public static native int QelMonValueSend(long handle);
}
