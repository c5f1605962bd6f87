package jqel.bench.floor;

/**
 * The floor's CMA natives: what JQelMessage's must cost at least. The fields
 * have the same names and types as JQelMessage's, so the natives look them up
 * the same way.
 */
public final class FloorMessage {
    static {
        System.loadLibrary("JQelBenchFloor");
    }

    public String myQelDataString;
    public String[] myStringArray;

    public native int get(long handle, String name);

    public native int set(long handle, String name, String value);

    public native int remove(long handle, String name);

    public native int names(long handle);
}
