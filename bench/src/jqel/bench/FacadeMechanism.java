package jqel.bench;

import com.brenn.varnis.tq.api.jqel.JQelAgent;
import com.brenn.varnis.tq.api.jqel.JQelException;
import java.util.List;

/**
 * The library through its facade, JQelAgent: the same natives, a fresh
 * JQelMessage per read, results as values and failures as exceptions. The
 * single calls turn those back into the library's results (the code of a
 * failure; the names field kept when a listing finds none) for the checks;
 * the loops call the facade as a caller does.
 */
final class FacadeMechanism extends Mechanism {
    private final JQelAgent agent = new JQelAgent();
    private String lastValue;
    private String[] lastNames;

    @Override public String label() { return "facade"; }

    @Override public int send(long h) {
        try {
            agent.sendMessage(h);
            return 0;
        } catch (JQelException e) {
            return e.code();
        }
    }

    @Override public int ack(long h) {
        try {
            agent.acknowledgeMessage(h);
            return 0;
        } catch (JQelException e) {
            return e.code();
        }
    }

    @Override public int monSend(long h) {
        try {
            agent.sendMonitorValue(h);
            return 0;
        } catch (JQelException e) {
            return e.code();
        }
    }

    @Override public int set(long h, String n, String v) {
        try {
            agent.setCma(h, n, v);
            return 0;
        } catch (JQelException e) {
            return e.code();
        }
    }

    @Override public int get(long h, String n) {
        try {
            lastValue = agent.getCma(h, n);
            return 0;
        } catch (JQelException e) {
            lastValue = e.value();
            return e.code();
        }
    }

    @Override public int remove(long h, String n) {
        try {
            agent.removeCma(h, n);
            return 0;
        } catch (JQelException e) {
            return e.code();
        }
    }

    @Override public int names(long h) {
        try {
            List<String> found = agent.getCmaNames(h);
            if (!found.isEmpty()) lastNames = found.toArray(new String[0]);
            return 0;
        } catch (JQelException e) {
            return e.code();
        }
    }

    @Override public String value() { return lastValue; }

    @Override public String[] names() { return lastNames; }

    @Override public long loopSend(int n) {
        for (int i = 0; i < n; i++) agent.sendMessage(handle);
        return 0;
    }

    @Override public long loopAck(int n) {
        for (int i = 0; i < n; i++) agent.acknowledgeMessage(handle);
        return 0;
    }

    @Override public long loopMonSend(int n) {
        for (int i = 0; i < n; i++) agent.sendMonitorValue(handle);
        return 0;
    }

    @Override public long loopSet(int n) {
        for (int i = 0; i < n; i++) agent.setCma(handle, name, value);
        return 0;
    }

    @Override public long loopGet(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += agent.getCma(handle, name).length();
        return s;
    }

    @Override public long loopRemove(int n) {
        for (int i = 0; i < n; i++) agent.removeCma(handle, removeNames[i]);
        return 0;
    }

    @Override public long loopNames(int n) {
        long s = 0;
        for (int i = 0; i < n; i++) s += agent.getCmaNames(handle).size();
        return s;
    }
}
