package com.brenn.varnis.tq.api.jqel;

/**
 * The CMAs (named string attributes) of an agent message, reached through the
 * message's native handle. Each method returns the agent's result code, 0 for
 * success. Reads land in this object's fields: {@link #QelGetCMA} writes
 * {@link #myQelDataString}, {@link #QelGetCMANames} writes
 * {@link #myStringArray}.
 */
public class JQelMessage {
    static {
        JQelLibrary.load();
    }

    /** The value read by the last {@link #QelGetCMA} call; never null after one. */
    public String myQelDataString;

    /** The CMA names read by the last {@link #QelGetCMANames} call that found any. */
    public String[] myStringArray;

    /** Reads the CMA {@code name} of message {@code handle} into {@link #myQelDataString}. */
    public native int QelGetCMA(long handle, String name);

    /** Sets the CMA {@code name} of message {@code handle} to {@code value}. */
    public native int QelSetCMA(long handle, String name, String value);

    /** Removes the CMA {@code name} from message {@code handle}. */
    public native int QelRemoveCMA(long handle, String name);

    /** Lists the CMA names of message {@code handle} into {@link #myStringArray}. */
    public native int QelGetCMANames(long handle);
}
