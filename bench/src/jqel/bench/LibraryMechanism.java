package jqel.bench;

import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;
import com.brenn.varnis.tq.api.jqel.JQelMessage;
import com.brenn.varnis.tq.api.jqel.JQelMonValue;

/** The library itself: the natives of JQelAgtMsg. */
final class LibraryMechanism extends Mechanism {
    private JQelMessage msg = new JQelMessage();

    @Override public String label() { return "library"; }

    @Override public int send(long h) { return JQelAgentMessage.QelAgtMessageSend(h); }

    @Override public int ack(long h) { return JQelAgentMessage.QelAgtMessageAck(h); }

    @Override public int monSend(long h) { return JQelMonValue.QelMonValueSend(h); }

    @Override public int set(long h, String n, String v) { return msg.QelSetCMA(h, n, v); }

    @Override public int get(long h, String n) { return msg.QelGetCMA(h, n); }

    @Override public int remove(long h, String n) { return msg.QelRemoveCMA(h, n); }

    @Override public int names(long h) { return msg.QelGetCMANames(h); }

    @Override public String value() { return msg.myQelDataString; }

    @Override public String[] names() { return msg.myStringArray; }

    @Override public long loopSend(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += JQelAgentMessage.QelAgtMessageSend(handle);
        return s;
    }

    @Override public long loopAck(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += JQelAgentMessage.QelAgtMessageAck(handle);
        return s;
    }

    @Override public long loopMonSend(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += JQelMonValue.QelMonValueSend(handle);
        return s;
    }

    @Override public long loopSet(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += msg.QelSetCMA(handle, name, value);
        return s;
    }

    @Override public long loopGet(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) {
            JQelMessage m = msg;
            s += m.QelGetCMA(handle, name) + m.myQelDataString.length();
        }
        return s;
    }

    @Override public long loopRemove(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += msg.QelRemoveCMA(handle, removeNames[i]);
        return s;
    }

    @Override public long loopNames(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) {
            JQelMessage m = msg;
            s += m.QelGetCMANames(handle) + m.myStringArray.length;
        }
        return s;
    }
}
