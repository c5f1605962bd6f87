package com.brenn.varnis.tq.api.jqel;

/**
 * An agent message, reached through its native handle: sending and
 * acknowledging it.
 *
 * <p>Each method calls one operation of the agent's programming interface,
 * {@code libqelagtapi}, through the native library {@code JQelAgtMsg}, and
 * returns that operation's result code unchanged: 0 for success, anything else
 * as the agent gave it. The codes are the agent's own; look them up in the
 * agent product's documentation of its programming interface, under the
 * operation that each method names. This library adds no code of its own.
 *
 * <p>The methods may be called from any number of threads at once: they keep
 * no state between calls.
 *
 * <p>The first use of this class loads the native library, as {@link
 * JQelLibrary} says. If that fails, that use throws {@link
 * UnsatisfiedLinkError}, whose second line gives the command line of the
 * loading doctor, and every later use throws {@link NoClassDefFoundError};
 * {@link JQelLibrary#isAvailable()} tells beforehand, without throwing.
 * {@link JQelAgent} offers the same operations with failures as exceptions.
 */
public class JQelAgentMessage {
    static {
        JQelLibrary.load();
    }

    /**
     * Makes an object of this class, which has only static methods; there is
     * no need to.
     */
    public JQelAgentMessage() {}

    /**
     * Sends an agent message: the agent's message-send operation.
     *
     * @param handle the agent's handle of the message (see the package's
     *     "Handles")
     * @return the agent's result code, unchanged: 0 for success
     */
    public static native int QelAgtMessageSend(long handle);

    /**
     * Acknowledges an agent message: the agent's message-acknowledge
     * operation.
     *
     * @param handle the agent's handle of the message (see the package's
     *     "Handles")
     * @return the agent's result code, unchanged: 0 for success
     */
    public static native int QelAgtMessageAck(long handle);
}
