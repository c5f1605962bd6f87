package com.brenn.varnis.tq.api.jqel;

/**
 * The CMAs of an agent message, reached through the message's native handle:
 * reading, setting and removing them, and listing their names. A CMA is a
 * named attribute of a message whose name and value are both strings.
 *
 * <p>Each method calls one operation of the agent's programming interface,
 * {@code libqelagtapi}, through the native library {@code JQelAgtMsg}, and
 * returns that operation's result code unchanged: 0 for success, anything else
 * as the agent gave it. The codes are the agent's own; look them up in the
 * agent product's documentation of its programming interface, under the
 * operation that each method names. This library adds no code of its own.
 * The two reads store what they read in this object's public fields: {@link
 * #QelGetCMA} in {@link #myQelDataString}, {@link #QelGetCMANames} in {@link
 * #myStringArray}.
 *
 * <p><b>Strings.</b> A name or value travels as the JVM's modified UTF-8, in
 * which U+0000 is the two bytes C0 80 and a character beyond U+FFFF is its
 * two surrogates, three bytes each, to the agent product's converter library
 * {@code JQelAgtbase}, which turns it into the agent's native encoding; the
 * agent receives what the converter makes of it. An empty name or value
 * reaches the agent as an empty string: the agent decides what it means.
 *
 * <p><b>Threads.</b> The methods may be called from any number of threads at
 * once. Each call reads or writes only what its own arguments and its own
 * object name, so a thread never sees another call's value in a result code
 * or in a field while each thread calls on its own {@code JQelMessage}. The
 * fields are plain fields that a call writes and the caller reads afterwards:
 * two threads that call {@link #QelGetCMA} or {@link #QelGetCMANames} on one
 * shared object may each read the other's result. Give each thread its own
 * object (they are small, and hold nothing native), hold a lock on the
 * object from the call until the field has been read, or call through
 * {@link JQelAgent}, which does the first for each call.
 *
 * <p>The first use of this class loads the native library; if that fails, it
 * throws {@link UnsatisfiedLinkError} as {@link JQelAgentMessage} says.
 */
public class JQelMessage {
    static {
        JQelLibrary.load();
    }

    /**
     * The value read by the last {@link #QelGetCMA} call on this object: the
     * CMA's value, or {@code ""} when the agent gave none, whatever the
     * result code. Never {@code null} after a call that returned, and never a
     * value from an earlier call. {@code null} until the first such call; a
     * call that throws leaves it as it was.
     */
    public String myQelDataString;

    /**
     * The CMA names read by the last {@link #QelGetCMANames} call on this
     * object that succeeded and found names: a new array, in the agent's
     * order. A name that the converter cannot turn into a Java string is a
     * {@code null} element in its place. A call that fails, finds no names,
     * or throws leaves the field as it was, so it may hold an earlier call's
     * names: judge it by that call's result code. {@code null} until then.
     */
    public String[] myStringArray;

    /** Makes an object to call the methods on, with both fields {@code null}. */
    public JQelMessage() {}

    /**
     * Reads a CMA of a message into {@link #myQelDataString}: the agent's
     * CMA-get operation. The field is written whatever the result code: the
     * CMA's value, or {@code ""} when the agent gives none. A value whose
     * bytes the converter cannot turn into a Java string arrives whole: as
     * modified UTF-8 where the bytes are that, otherwise one {@code char} per
     * byte (ISO-8859-1).
     *
     * @param handle the agent's handle of the message (see the package's
     *     "Handles")
     * @param name the CMA's name; see "Strings" above
     * @return the agent's result code, unchanged: 0 for success
     * @throws NullPointerException "name == null" if {@code name} is null;
     *     the agent is not called and the field is untouched
     * @throws IllegalArgumentException "name cannot be converted to the
     *     agent's native encoding" if the converter makes no native string of
     *     it; the agent is not called and the field is untouched
     * @throws OutOfMemoryError the JVM's, if it cannot lend the name's
     *     characters (the agent is not called), or after the agent's call,
     *     if the value cannot be made a Java string: the JVM's, or this
     *     library's "no memory for a CMA value" or "CMA value too long for a
     *     Java string"; the field keeps what it held
     * @throws NoSuchFieldError if this object's class lacks the field {@code
     *     myQelDataString} (a class of this name from another release); the
     *     agent is not called
     */
    public native int QelGetCMA(long handle, String name);

    /**
     * Sets a CMA of a message: the agent's CMA-set operation.
     *
     * @param handle the agent's handle of the message (see the package's
     *     "Handles")
     * @param name the CMA's name; see "Strings" above
     * @param value the CMA's new value; see "Strings" above
     * @return the agent's result code, unchanged: 0 for success
     * @throws NullPointerException "name == null" or "value == null" if
     *     either is null; the agent is not called
     * @throws IllegalArgumentException "name cannot be converted to the
     *     agent's native encoding" (or "value ...") if the converter makes no
     *     native string of it; the agent is not called
     * @throws OutOfMemoryError the JVM's, if it cannot lend the characters of
     *     a string; the agent is not called
     */
    public native int QelSetCMA(long handle, String name, String value);

    /**
     * Removes a CMA from a message: the agent's CMA-remove operation.
     *
     * @param handle the agent's handle of the message (see the package's
     *     "Handles")
     * @param name the CMA's name; see "Strings" above
     * @return the agent's result code, unchanged: 0 for success
     * @throws NullPointerException "name == null" if {@code name} is null;
     *     the agent is not called
     * @throws IllegalArgumentException "name cannot be converted to the
     *     agent's native encoding" if the converter makes no native string of
     *     it; the agent is not called
     * @throws OutOfMemoryError the JVM's, if it cannot lend the name's
     *     characters; the agent is not called
     */
    public native int QelRemoveCMA(long handle, String name);

    /**
     * Lists the names of a message's CMAs into {@link #myStringArray}: the
     * agent's CMA-names operation. Only a call that returns 0 and finds at
     * least one name stores a new array; any other leaves the field as it
     * was. Every name and the list the agent hands over are freed, on every
     * path.
     *
     * @param handle the agent's handle of the message (see the package's
     *     "Handles")
     * @return the agent's result code, unchanged: 0 for success
     * @throws OutOfMemoryError the JVM's, if the list is too long for the
     *     Java heap; the field keeps what it held, and the next call works
     * @throws NoSuchFieldError if this object's class lacks the field {@code
     *     myStringArray} (a class of this name from another release); the
     *     agent has been called, and its list is freed
     */
    public native int QelGetCMANames(long handle);
}
