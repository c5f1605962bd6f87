package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;
import com.brenn.varnis.tq.api.jqel.JQelMessage;
import com.brenn.varnis.tq.api.jqel.JQelMonValue;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import jqel.standin.StandIn;
import org.junit.jupiter.api.Test;

/**
 * Sixteen threads calling all seven natives at once, each on a message and a
 * monitor value of its own and on messages and a monitor value they share.
 * Every value and name carries the tag of its message, so a value read from
 * another message, or another call's value, shows.
 */
class ThreadsTest {
    static final int THREADS = 16, SHARED = 4, ROUNDS = 600, NAMES = 30;

    final long[] shared = new long[SHARED];
    long sharedMonValue;

    @Test
    void sixteenThreadsCallingEveryNativeSeeOnlyTheirMessagesDataAndTheAgentsCodes() throws Exception {
        StandIn.reset();
        JQelMessage setup = new JQelMessage();
        for (int s = 0; s < SHARED; s++) {
            shared[s] = StandIn.newMessage();
            for (int k = 0; k < NAMES; k++) assertEquals(0, setup.QelSetCMA(shared[s], "m" + s + "-name-" + k, "m" + s + ":base:" + k));
            assertEquals(0, JQelAgentMessage.QelAgtMessageSend(shared[s]));
        }
        sharedMonValue = StandIn.newMonValue();

        CyclicBarrier start = new CyclicBarrier(THREADS);
        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        try {
            List<Future<long[]>> done = new ArrayList<>();
            for (int t = 0; t < THREADS; t++) {
                int thread = t;
                done.add(pool.submit(() -> {
                    start.await();
                    return work(thread);
                }));
            }
            for (Future<long[]> f : done) {
                long[] own = f.get(10, TimeUnit.MINUTES);
                assertEquals(ROUNDS, StandIn.sentCount(own[0]));
                assertEquals(ROUNDS, StandIn.ackCount(own[0]));
                assertEquals(ROUNDS, StandIn.sentCount(own[1]));
            }
        } finally {
            pool.shutdownNow();
        }
        int calls = THREADS * ROUNDS;
        for (long m : shared) {
            assertEquals(1, StandIn.sentCount(m));
            assertEquals(calls / SHARED, StandIn.ackCount(m));
        }
        assertEquals(calls, StandIn.sentCount(sharedMonValue));
    }

    /** One thread's rounds; returns its own message's and monitor value's handles. */
    long[] work(int t) {
        JQelMessage jq = new JQelMessage();
        long own = StandIn.newMessage(), ownMonValue = StandIn.newMonValue();
        for (int i = 0; i < ROUNDS; i++) {
            // The thread's own message: it reads back exactly what it wrote.
            String ownValue = "own" + t + ":" + i;
            assertEquals(0, jq.QelSetCMA(own, "k", ownValue));
            assertEquals(0, jq.QelGetCMA(own, "k"));
            assertEquals(ownValue, jq.myQelDataString);

            // A shared message: this thread's CMA, another thread's, a fixed one.
            int s = (t + i) % SHARED;
            long m = shared[s];
            String tag = "m" + s, mine = tag + "-t" + t, value = tag + ":t" + t + ":" + i;
            assertEquals(0, jq.QelSetCMA(m, mine, value));
            assertEquals(0, jq.QelGetCMA(m, mine));
            assertEquals(value, jq.myQelDataString);
            int next = (t + 1) % THREADS;
            int rc = jq.QelGetCMA(m, tag + "-t" + next);
            if (rc == 0) {
                assertTrue(jq.myQelDataString.startsWith(tag + ":t" + next + ":"), jq.myQelDataString);
            } else {
                assertEquals(StandIn.E_NO_SUCH_CMA, rc); // not set yet, or just removed
                assertEquals("", jq.myQelDataString);
            }
            int k = i % NAMES;
            assertEquals(0, jq.QelGetCMA(m, tag + "-name-" + k));
            assertEquals(tag + ":base:" + k, jq.myQelDataString);

            // The shared message's names: its fixed ones first, in order, then
            // only names of that message.
            assertEquals(0, jq.QelGetCMANames(m));
            String[] names = jq.myStringArray;
            assertTrue(names.length >= NAMES && names.length <= NAMES + THREADS, "" + names.length);
            for (int j = 0; j < names.length; j++) {
                if (j < NAMES) assertEquals(tag + "-name-" + j, names[j]);
                else assertTrue(names[j].startsWith(tag + "-t"), names[j]);
            }
            if (i % 2 == 1) assertEquals(0, jq.QelRemoveCMA(m, mine));

            // Sending and acknowledging, own and shared objects.
            assertEquals(0, JQelAgentMessage.QelAgtMessageSend(own));
            assertEquals(0, JQelAgentMessage.QelAgtMessageAck(own));
            assertEquals(0, JQelMonValue.QelMonValueSend(ownMonValue));
            assertEquals(0, JQelAgentMessage.QelAgtMessageAck(m));
            assertEquals(0, JQelMonValue.QelMonValueSend(sharedMonValue));

            // A result code the agent gives this thread's next call only.
            int code = (i % 2 == 0 ? 1 : -1) * (1000 + (t << 16) + i);
            forcedCall(jq, i % 7, code, own, ownMonValue);
        }
        return new long[] {own, ownMonValue};
    }

    /** Calls native {@code op} after forcing its result: the code comes back, and nothing is read. */
    static void forcedCall(JQelMessage jq, int op, int code, long message, long monValue) {
        StandIn.forceNextResult(op, code);
        String[] names = jq.myStringArray;
        assertEquals(code, call(jq, op, message, monValue));
        if (op == StandIn.OP_CMA_GET) assertEquals("", jq.myQelDataString);
        if (op == StandIn.OP_CMA_NAMES) assertSame(names, jq.myStringArray);
    }

    /** Calls native {@code op} and returns its result code. */
    private static int call(JQelMessage jq, int op, long message, long monValue) {
        switch (op) {
            case StandIn.OP_MESSAGE_SEND: return JQelAgentMessage.QelAgtMessageSend(message);
            case StandIn.OP_MESSAGE_ACK: return JQelAgentMessage.QelAgtMessageAck(message);
            case StandIn.OP_MONVALUE_SEND: return JQelMonValue.QelMonValueSend(monValue);
            case StandIn.OP_CMA_SET: return jq.QelSetCMA(message, "k", "not set");
            case StandIn.OP_CMA_GET: return jq.QelGetCMA(message, "k");
            case StandIn.OP_CMA_REMOVE: return jq.QelRemoveCMA(message, "k");
            default: return jq.QelGetCMANames(message);
        }
    }
}
