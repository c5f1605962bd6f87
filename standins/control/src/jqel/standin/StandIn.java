package jqel.standin;

import java.io.ByteArrayOutputStream;

/**
 * Java face of the stand-in agent's and stand-in converter's control
 * interface, for tests, the demo and the benchmark. A real agent product has
 * none of this. The "next" controls apply to the calling thread only.
 */
public final class StandIn {
    static {
        System.loadLibrary("JQelStandIn");
    }

    private StandIn() {}

    // Result codes of the stand-in agent.
    public static final int OK = 0;
    public static final int E_UNKNOWN_HANDLE = 1;
    public static final int E_WRONG_KIND = 2;
    public static final int E_NO_SUCH_CMA = 3;
    public static final int E_INVALID_ARGUMENT = 4;
    public static final int E_NOT_SENT = 5;

    // The agent's operations, for the controls and records.
    public static final int OP_MESSAGE_SEND = 0;
    public static final int OP_MESSAGE_ACK = 1;
    public static final int OP_MONVALUE_SEND = 2;
    public static final int OP_CMA_SET = 3;
    public static final int OP_CMA_GET = 4;
    public static final int OP_CMA_REMOVE = 5;
    public static final int OP_CMA_NAMES = 6;

    /** Drops every object and record and this thread's pending controls. */
    public static native void reset();

    public static native long newMessage();

    public static native long newMonValue();

    public static native void destroy(long handle);

    /** Times the object was sent; -1 for an unknown handle. */
    public static native int sentCount(long handle);

    /** Times the message was acknowledged; -1 for an unknown handle. */
    public static native int ackCount(long handle);

    /** Plants a CMA with raw native bytes, bypassing the bridge. */
    public static native int putCma(long handle, byte[] name, byte[] value);

    /** This thread's next call of {@code op} does nothing but return {@code code}. */
    public static native void forceNextResult(int op, int code);

    /** This thread's next CMA get returns {@code code} and leaves the value null. */
    public static native void nextGetLeavesSlotNull(int code);

    /** This thread's next CMA get returns {@code code} and leaves the value of these native bytes. */
    public static native void nextGetLeaves(int code, byte[] value);

    /**
     * This thread's next successful CMA names call reports {@code count} instead of the message's names:
     * that many new names "name-0", "name-1", ... for a positive count, none otherwise.
     */
    public static native void nextNamesCount(int count);

    /** Bytes of the C runtime's heap in use in this process; -1 where that is unknown. */
    public static native long heapInUse();

    /** After {@code skip} successful conversions, this thread's next Java-to-native conversion fails. */
    public static native void failNextFromUtf(int skip);

    public static native void setRecording(boolean on);

    public static native long calls(int op);

    /** The handle value the last call of {@code op} received, all bits as the agent saw them. */
    public static native long lastHandle(int op);

    /** The native bytes of the last name {@code op} received, or null if none. */
    public static native byte[] lastName(int op);

    /** The native bytes of the last value {@code op} received, or null if none. */
    public static native byte[] lastValue(int op);

    /**
     * The stand-in converter's native encoding of {@code s}: UTF-8, with
     * U+0000 as C0 80 and a lone surrogate in its three-byte form.
     */
    public static byte[] nativeBytes(String s) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (int i = 0; i < s.length(); ) {
            int cp = s.codePointAt(i);
            i += Character.charCount(cp);
            if (cp == 0) {
                out.write(0xC0);
                out.write(0x80);
            } else if (cp < 0x80) {
                out.write(cp);
            } else if (cp < 0x800) {
                out.write(0xC0 | (cp >> 6));
                out.write(0x80 | (cp & 0x3F));
            } else if (cp < 0x10000) {
                out.write(0xE0 | (cp >> 12));
                out.write(0x80 | ((cp >> 6) & 0x3F));
                out.write(0x80 | (cp & 0x3F));
            } else {
                out.write(0xF0 | (cp >> 18));
                out.write(0x80 | ((cp >> 12) & 0x3F));
                out.write(0x80 | ((cp >> 6) & 0x3F));
                out.write(0x80 | (cp & 0x3F));
            }
        }
        return out.toByteArray();
    }
}
