package jqel.bench;

import jqel.bench.floor.FloorAgentMessage;
import jqel.bench.floor.FloorMessage;
import jqel.bench.floor.FloorMonValue;

/** The floor: the same JNI work as the library with nothing added (libJQelBenchFloor). */
final class FloorMechanism extends Mechanism {
    private FloorMessage msg = new FloorMessage();

    @Override public String label() { return "floor"; }

    @Override public int send(long h) { return FloorAgentMessage.send(h); }

    @Override public int ack(long h) { return FloorAgentMessage.ack(h); }

    @Override public int monSend(long h) { return FloorMonValue.send(h); }

    @Override public int set(long h, String n, String v) { return msg.set(h, n, v); }

    @Override public int get(long h, String n) { return msg.get(h, n); }

    @Override public int remove(long h, String n) { return msg.remove(h, n); }

    @Override public int names(long h) { return msg.names(h); }

    @Override public String value() { return msg.myQelDataString; }

    @Override public String[] names() { return msg.myStringArray; }

    @Override public long loopSend(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += FloorAgentMessage.send(handle);
        return s;
    }

    @Override public long loopAck(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += FloorAgentMessage.ack(handle);
        return s;
    }

    @Override public long loopMonSend(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += FloorMonValue.send(handle);
        return s;
    }

    @Override public long loopSet(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += msg.set(handle, name, value);
        return s;
    }

    @Override public long loopGet(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) {
            FloorMessage m = msg;
            s += m.get(handle, name) + m.myQelDataString.length();
        }
        return s;
    }

    @Override public long loopRemove(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += msg.remove(handle, removeNames[i]);
        return s;
    }

    @Override public long loopNames(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) {
            FloorMessage m = msg;
            s += m.names(handle) + m.myStringArray.length;
        }
        return s;
    }
}
