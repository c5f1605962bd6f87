package jqel.bench.ffm;

import static java.lang.foreign.ValueLayout.ADDRESS;
import static java.lang.foreign.ValueLayout.JAVA_BYTE;
import static java.lang.foreign.ValueLayout.JAVA_INT;
import static java.lang.foreign.ValueLayout.JAVA_LONG;

import java.lang.foreign.Arena;
import java.lang.foreign.FunctionDescriptor;
import java.lang.foreign.Linker;
import java.lang.foreign.MemoryLayout;
import java.lang.foreign.MemorySegment;
import java.lang.foreign.SymbolLookup;
import java.lang.invoke.MethodHandle;
import java.nio.file.Path;
import jqel.bench.Mechanism;
import jqel.bench.NativeText;

/**
 * The foreign-function API (java.lang.foreign) calling the agent's operations
 * with plain downcalls, strings converted in Java ({@link NativeText}) and the
 * name list read and freed in Java. The handle passes as a 64-bit integer, a
 * pointer's width on 64-bit JVMs. Arguments and out-parameters go through one
 * scratch buffer that this (single-threaded) object reuses, rather than an
 * arena per call.
 *
 * Compiled only by a JDK of version 22 or later; the harness loads it by name.
 * Binding and reading native memory are restricted methods: the harness runs
 * with native access enabled.
 */
@SuppressWarnings("restricted")
public final class FfmMechanism extends Mechanism {
    private static final Linker LINKER = Linker.nativeLinker();
    private static final SymbolLookup LIBC = LINKER.defaultLookup();
    private static final MethodHandle STRLEN = LINKER.downcallHandle(
            LIBC.find("strlen").orElseThrow(), FunctionDescriptor.of(JAVA_LONG, ADDRESS));
    private static final MethodHandle FREE = LINKER.downcallHandle(
            LIBC.find("free").orElseThrow(), FunctionDescriptor.ofVoid(ADDRESS));

    // The agent's operations, bound once; the library named by the system
    // property is the same file the library binds, so the process has one agent.
    private static final SymbolLookup AGENT = SymbolLookup.libraryLookup(
            Path.of(System.getProperty("jqel.bench.agent")), Arena.global());
    private static final MethodHandle SEND = op("qelagt_message_send");
    private static final MethodHandle ACK = op("qelagt_message_ack");
    private static final MethodHandle MON_SEND = op("qelagt_monvalue_send");
    private static final MethodHandle SET = op("qelagt_cma_set", ADDRESS, ADDRESS);
    private static final MethodHandle GET = op("qelagt_cma_get", ADDRESS, ADDRESS);
    private static final MethodHandle REMOVE = op("qelagt_cma_remove", ADDRESS);
    private static final MethodHandle NAMES = op("qelagt_cma_names", ADDRESS, ADDRESS);

    // int op(handle, more...)
    private static MethodHandle op(String name, MemoryLayout... more) {
        MemoryLayout[] args = new MemoryLayout[more.length + 1];
        args[0] = JAVA_LONG;
        System.arraycopy(more, 0, args, 1, more.length);
        return LINKER.downcallHandle(AGENT.find(name).orElseThrow(), FunctionDescriptor.of(JAVA_INT, args));
    }

    private final Arena arena = Arena.ofConfined();
    private MemorySegment scratch = arena.allocate(8192, 8);

    private String myQelDataString;
    private String[] myStringArray;

    @Override public String label() { return "FFM"; }

    // The scratch buffer, at least `size` bytes.
    private MemorySegment scratch(long size) {
        if (scratch.byteSize() < size) scratch = arena.allocate(Math.max(size, 2 * scratch.byteSize()), 8);
        return scratch;
    }

    // Writes `b` and a NUL at `offset`; returns the offset after them.
    private static long putCString(MemorySegment buf, long offset, byte[] b) {
        MemorySegment.copy(b, 0, buf, JAVA_BYTE, offset, b.length);
        buf.set(JAVA_BYTE, offset + b.length, (byte) 0);
        return offset + b.length + 1;
    }

    // The bytes of the C string at `p`, without its NUL.
    private static byte[] bytesAt(MemorySegment p) throws Throwable {
        long length = (long) STRLEN.invokeExact(p);
        return p.reinterpret(length).toArray(JAVA_BYTE);
    }

    private static RuntimeException failed(Throwable t) {
        return new IllegalStateException("downcall failed", t);
    }

    @Override public int send(long h) {
        try {
            return (int) SEND.invokeExact(h);
        } catch (Throwable t) {
            throw failed(t);
        }
    }

    @Override public int ack(long h) {
        try {
            return (int) ACK.invokeExact(h);
        } catch (Throwable t) {
            throw failed(t);
        }
    }

    @Override public int monSend(long h) {
        try {
            return (int) MON_SEND.invokeExact(h);
        } catch (Throwable t) {
            throw failed(t);
        }
    }

    @Override public int set(long h, String n, String v) {
        byte[] nb = NativeText.bytes(n);
        byte[] vb = NativeText.bytes(v);
        MemorySegment buf = scratch(nb.length + vb.length + 2L);
        long valueAt = putCString(buf, 0, nb);
        putCString(buf, valueAt, vb);
        try {
            return (int) SET.invokeExact(h, buf, buf.asSlice(valueAt));
        } catch (Throwable t) {
            throw failed(t);
        }
    }

    @Override public int get(long h, String n) {
        byte[] nb = NativeText.bytes(n);
        MemorySegment buf = scratch(8 + nb.length + 1L);  // the value slot, then the name
        buf.set(ADDRESS, 0, MemorySegment.NULL);
        putCString(buf, 8, nb);
        try {
            int rc = (int) GET.invokeExact(h, buf.asSlice(8), buf);
            MemorySegment v = buf.get(ADDRESS, 0);
            myQelDataString = v.address() == 0 ? "" : NativeText.decodeValue(bytesAt(v));
            return rc;
        } catch (Throwable t) {
            throw failed(t);
        }
    }

    @Override public int remove(long h, String n) {
        byte[] nb = NativeText.bytes(n);
        MemorySegment buf = scratch(nb.length + 1L);
        putCString(buf, 0, nb);
        try {
            return (int) REMOVE.invokeExact(h, buf);
        } catch (Throwable t) {
            throw failed(t);
        }
    }

    @Override public int names(long h) {
        MemorySegment buf = scratch(12);  // the list pointer, then the count
        buf.set(ADDRESS, 0, MemorySegment.NULL);
        buf.set(JAVA_INT, 8, 0);
        try {
            int rc = (int) NAMES.invokeExact(h, buf, buf.asSlice(8));
            MemorySegment list = buf.get(ADDRESS, 0);
            int count = buf.get(JAVA_INT, 8);
            if (rc == 0 && list.address() != 0 && count > 0) {
                MemorySegment names = list.reinterpret(count * ADDRESS.byteSize());
                String[] out = new String[count];
                for (int i = 0; i < count; i++) {
                    MemorySegment p = names.getAtIndex(ADDRESS, i);
                    out[i] = NativeText.decode(bytesAt(p));
                    FREE.invokeExact(p);
                }
                myStringArray = out;
            }
            FREE.invokeExact(list);
            return rc;
        } catch (Throwable t) {
            throw failed(t);
        }
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
