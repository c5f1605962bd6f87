package jqel.bench;

/**
 * One way for Java to reach the agent's seven operations: the library, the
 * floor, JNA or the foreign-function API. Each gives the same seven calls with
 * the library's meaning (result code returned; a read value or name list left
 * where {@link #value()} and {@link #names()} find it), and the timed loops
 * over them.
 *
 * Each subclass writes its own loops, so that every call site in a loop sees
 * one receiver and one target only. The loops read their inputs from the
 * non-final fields below on every call, and return a sum of everything the
 * calls yield, which the harness folds into a sink the JIT cannot drop.
 */
public abstract class Mechanism {
    /** The handle the loops pass: a message, or a monitor value for monSend. */
    public long handle;
    /** The CMA name of set and get. */
    public String name;
    /** The CMA value of set. */
    public String value;
    /** The names the remove loop removes, one per call, in order. */
    public String[] removeNames;

    public abstract String label();

    // One call each, with the library's results.
    public abstract int send(long h);

    public abstract int ack(long h);

    public abstract int monSend(long h);

    public abstract int set(long h, String name, String value);

    public abstract int get(long h, String name);

    public abstract int remove(long h, String name);

    public abstract int names(long h);

    /** The value the last get left, as the library leaves it in myQelDataString. */
    public abstract String value();

    /** The names the last names call left, as the library leaves them in myStringArray. */
    public abstract String[] names();

    // Timed loops: n calls each.
    public abstract long loopSend(int n);

    public abstract long loopAck(int n);

    public abstract long loopMonSend(int n);

    public abstract long loopSet(int n);

    public abstract long loopGet(int n);

    /** Removes removeNames[0..n). */
    public abstract long loopRemove(int n);

    public abstract long loopNames(int n);
}
