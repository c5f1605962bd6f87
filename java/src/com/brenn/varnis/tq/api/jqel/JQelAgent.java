package com.brenn.varnis.tq.api.jqel;

import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * The agent's seven operations, for callers that share one object between
 * any number of threads: results come back as values, and a failure of the
 * agent as a {@link JQelException}.
 *
 * <pre>{@code
 * JQelAgent agent = new JQelAgent();   // throws UnsatisfiedLinkError if the library does not load
 * agent.setCma(message, "customer", "42");
 * String customer = agent.getCma(message, "customer");
 * for (String name : agent.getCmaNames(message)) {
 *     System.out.println(name + " = " + agent.getCma(message, name));
 * }
 * agent.sendMessage(message);
 * try {
 *     agent.acknowledgeMessage(message);
 * } catch (JQelException e) {
 *     System.err.println(e.operation() + ": the agent's code " + e.code());
 * }
 * }</pre>
 *
 * <p>Each method calls one native method of {@link JQelAgentMessage}, {@link
 * JQelMessage} or {@link JQelMonValue}, with the same arguments, and so one
 * operation of the agent's programming interface; names and values travel as
 * that class says. This class holds no state: a call that reads keeps what it
 * reads to itself, on an object of its own, so no thread ever sees another
 * call's value, and no lock is needed. It adds no result code of its own.
 *
 * <p>A {@code null} name or value throws {@link NullPointerException} naming
 * the argument ("name == null"), before any native call. Other exceptions
 * that a native method documents (a string the converter cannot convert,
 * {@link OutOfMemoryError}) pass through unchanged.
 *
 * <p>The handles are the agent's, as the package's "Handles" says.
 */
public final class JQelAgent {
    /**
     * Makes an object to call the agent through; one is enough for every
     * thread. Loads the native library if no class of this package has yet
     * (see {@link JQelLibrary}).
     *
     * @throws UnsatisfiedLinkError the load's error, if the library is not
     *     available ({@link JQelLibrary#isAvailable()} tells without
     *     throwing)
     */
    public JQelAgent() {
        JQelLibrary.load();
    }

    /**
     * Sends an agent message: the agent's message-send operation.
     *
     * @param message the message's handle
     * @throws JQelException if the agent's result code is not 0
     */
    public void sendMessage(long message) {
        check("QelAgtMessageSend", JQelAgentMessage.QelAgtMessageSend(message));
    }

    /**
     * Acknowledges an agent message: the agent's message-acknowledge
     * operation.
     *
     * @param message the message's handle
     * @throws JQelException if the agent's result code is not 0
     */
    public void acknowledgeMessage(long message) {
        check("QelAgtMessageAck", JQelAgentMessage.QelAgtMessageAck(message));
    }

    /**
     * Sends a monitor value: the agent's monitor-value send operation.
     *
     * @param monitorValue the monitor value's handle
     * @throws JQelException if the agent's result code is not 0
     */
    public void sendMonitorValue(long monitorValue) {
        check("QelMonValueSend", JQelMonValue.QelMonValueSend(monitorValue));
    }

    /**
     * Reads a CMA of a message: the agent's CMA-get operation.
     *
     * @param message the message's handle
     * @param name the CMA's name
     * @return the CMA's value; {@code ""} when the agent gives none
     * @throws NullPointerException "name == null" if {@code name} is null
     * @throws JQelException if the agent's result code is not 0; its {@link
     *     JQelException#value()} is the value the agent left all the same
     */
    public String getCma(long message, String name) {
        requireNonNull(name, "name");
        JQelMessage call = new JQelMessage();
        int code = call.QelGetCMA(message, name);
        if (code != 0) {
            throw new JQelException("QelGetCMA", code, call.myQelDataString);
        }
        return call.myQelDataString;
    }

    /**
     * Sets a CMA of a message: the agent's CMA-set operation.
     *
     * @param message the message's handle
     * @param name the CMA's name
     * @param value the CMA's new value
     * @throws NullPointerException "name == null" or "value == null" if
     *     either is null
     * @throws JQelException if the agent's result code is not 0
     */
    public void setCma(long message, String name, String value) {
        requireNonNull(name, "name");
        requireNonNull(value, "value");
        check("QelSetCMA", new JQelMessage().QelSetCMA(message, name, value));
    }

    /**
     * Removes a CMA from a message: the agent's CMA-remove operation.
     *
     * @param message the message's handle
     * @param name the CMA's name
     * @throws NullPointerException "name == null" if {@code name} is null
     * @throws JQelException if the agent's result code is not 0
     */
    public void removeCma(long message, String name) {
        requireNonNull(name, "name");
        check("QelRemoveCMA", new JQelMessage().QelRemoveCMA(message, name));
    }

    /**
     * Lists the names of a message's CMAs: the agent's CMA-names operation.
     *
     * @param message the message's handle
     * @return a new, unmodifiable list of the names, in the agent's order; an
     *     empty list for a message without CMAs. A name that the converter
     *     cannot turn into a Java string is a {@code null} element in its
     *     place.
     * @throws JQelException if the agent's result code is not 0
     */
    public List<String> getCmaNames(long message) {
        JQelMessage call = new JQelMessage();
        int code = call.QelGetCMANames(message);
        if (code != 0) {
            throw new JQelException("QelGetCMANames", code, null);
        }
        // A fresh object's field is null unless this call found names.
        String[] names = call.myStringArray;
        return names == null ? Collections.<String>emptyList() : Collections.unmodifiableList(Arrays.asList(names));
    }

    private static void check(String operation, int code) {
        if (code != 0) {
            throw new JQelException(operation, code, null);
        }
    }

    private static void requireNonNull(String argument, String name) {
        if (argument == null) {
            throw new NullPointerException(name + " == null");
        }
    }
}
