package jqel.bench.floor;

/** The floor's monitor value native: what JQelMonValue's must cost at least. */
public final class FloorMonValue {
    static {
        System.loadLibrary("JQelBenchFloor");
    }

    private FloorMonValue() {}

    public static native int send(long handle);
}
