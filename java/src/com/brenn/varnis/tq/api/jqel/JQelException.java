package com.brenn.varnis.tq.api.jqel;

/**
 * An agent operation that {@link JQelAgent} called returned a result code
 * other than 0. The code is the agent's own, unchanged: this library gives
 * it no meaning. Look it up in the agent product's documentation of its
 * programming interface, under {@link #operation()}.
 */
public class JQelException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /** The native method that called the agent. */
    private final String operation;
    /** The agent's result code. */
    private final int code;
    /** The value a failed CMA read left, or null. */
    private final String value;

    /**
     * Makes the exception of a failed agent operation.
     *
     * @param operation the native method that called the agent, such as
     *     {@code "QelSetCMA"}
     * @param code the agent's result code
     * @param value the value the agent left, for a CMA read; null for any
     *     other operation
     */
    public JQelException(String operation, int code, String value) {
        super(operation + " failed with the agent's result code " + code);
        this.operation = operation;
        this.code = code;
        this.value = value;
    }

    /**
     * The agent's result code, unchanged.
     *
     * @return the code, never 0
     */
    public int code() {
        return code;
    }

    /**
     * The native method that called the agent, as the raw classes name it:
     * {@code QelAgtMessageSend}, {@code QelAgtMessageAck}, {@code
     * QelMonValueSend}, {@code QelGetCMA}, {@code QelSetCMA}, {@code
     * QelRemoveCMA} or {@code QelGetCMANames}.
     *
     * @return the method's name
     */
    public String operation() {
        return operation;
    }

    /**
     * For a failed CMA read, the value the agent left, as {@link
     * JQelMessage#QelGetCMA} stores it: {@code ""} if the agent left none.
     *
     * @return that value, or null for any other operation
     */
    public String value() {
        return value;
    }
}
