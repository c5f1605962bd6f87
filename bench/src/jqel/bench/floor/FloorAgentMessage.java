package jqel.bench.floor;

/** The floor's agent message natives: what JQelAgentMessage's must cost at least. */
public final class FloorAgentMessage {
    static {
        System.loadLibrary("JQelBenchFloor");
    }

    private FloorAgentMessage() {}

    public static native int send(long handle);

    public static native int ack(long handle);
}
