package jqel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.brenn.varnis.tq.api.jqel.JQelAgent;
import com.brenn.varnis.tq.api.jqel.JQelException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.function.LongConsumer;
import jqel.standin.StandIn;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** JQelAgent, the facade: results as values, the agent's failures as exceptions, one object for every thread. */
class FacadeTest {
    final JQelAgent agent = new JQelAgent();
    long message;

    @BeforeEach
    void freshMessage() {
        message = Agent.freshMessage();
    }

    @Test
    void eachOperationReachesTheAgentAndReturnsWhatItYields() {
        agent.setCma(message, "colour", "blue");
        agent.setCma(message, "size", "");
        assertEquals("blue", agent.getCma(message, "colour"));
        assertEquals("", agent.getCma(message, "size"));
        assertEquals(Arrays.asList("colour", "size"), agent.getCmaNames(message));
        agent.removeCma(message, "colour");
        assertEquals(Collections.singletonList("size"), agent.getCmaNames(message));
        agent.sendMessage(message);
        agent.acknowledgeMessage(message);
        assertEquals(1, StandIn.sentCount(message));
        assertEquals(1, StandIn.ackCount(message));
        long monValue = StandIn.newMonValue();
        agent.sendMonitorValue(monValue);
        assertEquals(1, StandIn.sentCount(monValue));
        StandIn.nextGetLeavesSlotNull(0);
        assertEquals("", agent.getCma(message, "size"));
    }

    @Test
    void namesComeAsANewUnmodifiableListAndAnEmptyMessageGivesAnEmptyOne() {
        agent.setCma(message, "a", "1");
        List<String> first = agent.getCmaNames(message);
        List<String> second = agent.getCmaNames(message);
        assertNotSame(first, second);
        assertThrows(UnsupportedOperationException.class, () -> first.add("b"));
        assertThrows(UnsupportedOperationException.class, () -> first.set(0, "b"));
        // An empty message after a full one: nothing of the earlier call's.
        assertEquals(Collections.emptyList(), agent.getCmaNames(StandIn.newMessage()));
        // A name the converter cannot convert is null in its place.
        StandIn.putCma(message, new byte[] {(byte) 0xFF}, new byte[] {'x'});
        agent.setCma(message, "c", "3");
        assertEquals(Arrays.asList("a", null, "c"), agent.getCmaNames(message));
    }

    @Test
    void everyCodeButZeroThrowsWithTheCodeTheOperationAndTheValueLeft() {
        long monValue = StandIn.newMonValue();
        String[] operations = {"QelAgtMessageSend", "QelAgtMessageAck", "QelMonValueSend", "QelSetCMA", "QelGetCMA",
            "QelRemoveCMA", "QelGetCMANames"};
        List<LongConsumer> calls = Arrays.asList(
                h -> agent.sendMessage(h), h -> agent.acknowledgeMessage(h), h -> agent.sendMonitorValue(monValue),
                h -> agent.setCma(h, "k", "v"), h -> agent.getCma(h, "k"), h -> agent.removeCma(h, "k"),
                h -> agent.getCmaNames(h));
        for (int code : new int[] {1, -1, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
            for (int op = 0; op < operations.length; op++) {
                StandIn.forceNextResult(op, code);
                int o = op;
                JQelException e = assertThrows(JQelException.class, () -> calls.get(o).accept(message));
                assertEquals(code, e.code(), operations[op]);
                assertEquals(operations[op], e.operation());
                assertEquals(operations[op] + " failed with the agent's result code " + code, e.getMessage());
                assertEquals(op == StandIn.OP_CMA_GET ? "" : null, e.value(), operations[op]);
            }
        }
        // A failed read carries the value the agent left all the same.
        StandIn.nextGetLeaves(StandIn.E_NO_SUCH_CMA, StandIn.nativeBytes("left behind"));
        JQelException e = assertThrows(JQelException.class, () -> agent.getCma(message, "k"));
        assertEquals(StandIn.E_NO_SUCH_CMA, e.code());
        assertEquals("left behind", e.value());
        // The agent's own failures, not only forced ones.
        assertEquals(StandIn.E_NOT_SENT, assertThrows(JQelException.class, () -> agent.acknowledgeMessage(message)).code());
        assertEquals(StandIn.E_NO_SUCH_CMA, assertThrows(JQelException.class, () -> agent.removeCma(message, "k")).code());
    }

    @Test
    void aNullArgumentThrowsNamingItBeforeAnyNativeCall() {
        StandIn.setRecording(true);
        long before = StandIn.calls(StandIn.OP_CMA_SET) + StandIn.calls(StandIn.OP_CMA_GET)
                + StandIn.calls(StandIn.OP_CMA_REMOVE);
        StandIn.failNextFromUtf(0);  // a name converted before the check would use this up
        assertEquals("name == null", assertThrows(NullPointerException.class, () -> agent.getCma(message, null)).getMessage());
        assertEquals("name == null", assertThrows(NullPointerException.class, () -> agent.setCma(message, null, "v")).getMessage());
        assertEquals("value == null", assertThrows(NullPointerException.class, () -> agent.setCma(message, "k", null)).getMessage());
        assertEquals("name == null", assertThrows(NullPointerException.class, () -> agent.removeCma(message, null)).getMessage());
        assertEquals(before, StandIn.calls(StandIn.OP_CMA_SET) + StandIn.calls(StandIn.OP_CMA_GET)
                + StandIn.calls(StandIn.OP_CMA_REMOVE));
        // The failure planted above is still pending: no native call converted a string.
        assertThrows(IllegalArgumentException.class, () -> agent.setCma(message, "k", "v"));
    }

    static final int THREADS = 8, ROUNDS = 2000;

    /**
     * One object shared by eight threads, each setting, reading and listing
     * its own message and a shared one, with failures between: every value,
     * list and code is the one its own call was given.
     */
    @Test
    void oneObjectSharedByEightThreadsGivesEachCallItsOwnResults() throws Exception {
        long shared = StandIn.newMessage();
        CyclicBarrier start = new CyclicBarrier(THREADS);
        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        try {
            List<Future<Integer>> done = new ArrayList<>();
            for (int t = 0; t < THREADS; t++) {
                int thread = t;
                done.add(pool.submit(() -> {
                    start.await();
                    return rounds(thread, shared);
                }));
            }
            int wrong = 0;
            for (Future<Integer> f : done) wrong += f.get(10, TimeUnit.MINUTES);
            assertEquals(0, wrong, "wrong reads");
        } finally {
            pool.shutdownNow();
        }
    }

    /** One thread's rounds; returns how many reads were not what its own call should give. */
    int rounds(int t, long shared) {
        long own = StandIn.newMessage();
        String mine = "t" + t;
        int wrong = 0;
        for (int i = 0; i < ROUNDS; i++) {
            String value = mine + ":" + i;
            agent.setCma(own, "k", value);
            agent.setCma(shared, mine, value);
            if (!value.equals(agent.getCma(own, "k"))) wrong++;
            if (!value.equals(agent.getCma(shared, mine))) wrong++;
            List<String> names = agent.getCmaNames(own);
            if (!names.equals(Collections.singletonList("k"))) wrong++;
            if (!agent.getCmaNames(shared).contains(mine)) wrong++;
            agent.removeCma(own, "k");
            if (!agent.getCmaNames(own).isEmpty()) wrong++;
            agent.sendMessage(own);
            agent.acknowledgeMessage(own);
            int code = 1000 + (t << 16) + i;
            StandIn.forceNextResult(StandIn.OP_CMA_GET, code);
            try {
                agent.getCma(own, "k");
                wrong++;
            } catch (JQelException e) {
                if (e.code() != code || !"".equals(e.value())) wrong++;
            }
        }
        return wrong + Math.abs(StandIn.sentCount(own) - ROUNDS) + Math.abs(StandIn.ackCount(own) - ROUNDS);
    }
}
