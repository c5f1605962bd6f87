package jqel.bench;

import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;

/**
 * JNA direct mapping of the agent's operations, with strings converted in
 * Java ({@link NativeText}) and the name list read and freed in Java. The
 * handle passes as a 64-bit integer, which is a pointer's width on the 64-bit
 * JVMs the benchmark runs on; out-parameters are one-element arrays, which
 * JNA copies in and back.
 */
final class JnaMechanism extends Mechanism {
    /** The agent's operations, bound to the same libqelagtapi the library uses. */
    static final class Agent {
        static native int qelagt_message_send(long message);
        static native int qelagt_message_ack(long message);
        static native int qelagt_monvalue_send(long monvalue);
        static native int qelagt_cma_set(long message, byte[] name, byte[] value);
        static native int qelagt_cma_get(long message, byte[] name, long[] value);
        static native int qelagt_cma_remove(long message, byte[] name);
        static native int qelagt_cma_names(long message, long[] names, int[] count);
    }

    /** The C runtime's free, for the name list the agent hands over. */
    static final class LibC {
        static native void free(long pointer);
    }

    private String myQelDataString;
    private String[] myStringArray;

    JnaMechanism(String agentLibrary) {
        if (Native.POINTER_SIZE != 8) throw new IllegalStateException("JNA mapping assumes 64-bit pointers");
        Native.register(Agent.class, NativeLibrary.getInstance(agentLibrary));
        Native.register(LibC.class, Platform.C_LIBRARY_NAME);
    }

    @Override public String label() { return "JNA"; }

    @Override public int send(long h) { return Agent.qelagt_message_send(h); }

    @Override public int ack(long h) { return Agent.qelagt_message_ack(h); }

    @Override public int monSend(long h) { return Agent.qelagt_monvalue_send(h); }

    @Override public int set(long h, String n, String v) {
        return Agent.qelagt_cma_set(h, NativeText.cString(n), NativeText.cString(v));
    }

    @Override public int get(long h, String n) {
        long[] slot = new long[1];
        int rc = Agent.qelagt_cma_get(h, NativeText.cString(n), slot);
        myQelDataString = slot[0] == 0 ? "" : NativeText.decodeValue(bytesAt(slot[0]));
        return rc;
    }

    @Override public int remove(long h, String n) {
        return Agent.qelagt_cma_remove(h, NativeText.cString(n));
    }

    @Override public int names(long h) {
        long[] list = new long[1];
        int[] count = new int[1];
        int rc = Agent.qelagt_cma_names(h, list, count);
        if (rc == 0 && list[0] != 0 && count[0] > 0) {
            long[] names = new Pointer(list[0]).getLongArray(0, count[0]);
            String[] out = new String[names.length];
            for (int i = 0; i < names.length; i++) {
                out[i] = NativeText.decode(bytesAt(names[i]));
                LibC.free(names[i]);
            }
            myStringArray = out;
        }
        LibC.free(list[0]);
        return rc;
    }

    // The bytes of the C string at `address`, without its NUL.
    private static byte[] bytesAt(long address) {
        Pointer p = new Pointer(address);
        return p.getByteArray(0, (int) p.indexOf(0, (byte) 0));
    }

    @Override public String value() { return myQelDataString; }

    @Override public String[] names() { return myStringArray; }

    @Override public long loopSend(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += send(handle);
        return s;
    }

    @Override public long loopAck(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += ack(handle);
        return s;
    }

    @Override public long loopMonSend(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += monSend(handle);
        return s;
    }

    @Override public long loopSet(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += set(handle, name, value);
        return s;
    }

    @Override public long loopGet(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += get(handle, name) + myQelDataString.length();
        return s;
    }

    @Override public long loopRemove(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += remove(handle, removeNames[i]);
        return s;
    }

    @Override public long loopNames(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += names(handle) + myStringArray.length;
        return s;
    }
}
