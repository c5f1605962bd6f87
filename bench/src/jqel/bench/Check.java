package jqel.bench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Objects;
import java.util.function.BiConsumer;
import jqel.standin.StandIn;

/**
 * Checks that every mechanism gives the library's results: each scenario runs
 * once per mechanism, on objects of its own, and writes down what it sees
 * (result codes, values, names, the bytes the agent received); every
 * mechanism's notes must equal the library's. Runs with the agent's
 * recording on.
 */
final class Check {
    private Check() {}

    /** Pairs of a CMA name and value: plain, empty, U+0000 and lone surrogates, non-ASCII, 4 KiB. */
    static final String[][] TEXTS = {
        {"cma-name-0000001", "value-0123456789"},
        {"", ""},
        {"nul\0inside", "lone \uD800 high, \uDC00 low"},
        {"\u00E9\u20AC\uD834\uDD1E \u540D\u524D", "\uD834\uDD1E\u0000"},
        {"big", Bench.repeat("0123456789abcdef", 4096)},
    };

    /** CMA values of raw native bytes: not native text but modified UTF-8, neither, NUL in native form. */
    static final byte[][] RAW_VALUES = {
        {(byte) 0xED, (byte) 0xA0, (byte) 0x80, (byte) 0xED, (byte) 0xB0, (byte) 0x80},
        {0x41, (byte) 0x80, 0x42},
        {(byte) 0xC0, (byte) 0x80},
        {(byte) 0xFF, (byte) 0xFE},
    };

    static final Object[][] SCENARIOS = {
        {"pass-through result codes", (BiConsumer<Mechanism, List<Object>>) (m, seen) -> {
            long msg = StandIn.newMessage();
            long mon = StandIn.newMonValue();
            long gone = StandIn.newMessage();
            StandIn.destroy(gone);
            seen.add(m.ack(msg));
            seen.add(m.send(msg));
            seen.add(StandIn.lastHandle(StandIn.OP_MESSAGE_SEND) == msg);
            seen.add(m.ack(msg));
            seen.add(m.send(mon));
            seen.add(m.monSend(mon));
            seen.add(StandIn.lastHandle(StandIn.OP_MONVALUE_SEND) == mon);
            seen.add(m.monSend(msg));
            seen.add(m.send(gone));
            seen.add(m.ack(gone));
            seen.add(m.monSend(gone));
            StandIn.forceNextResult(StandIn.OP_MESSAGE_ACK, -7);
            seen.add(m.ack(msg));
        }},
        {"set, get and remove", (BiConsumer<Mechanism, List<Object>>) (m, seen) -> {
            long msg = StandIn.newMessage();
            for (String[] t : TEXTS) {
                seen.add(m.set(msg, t[0], t[1]));
                seen.add(Arrays.toString(StandIn.lastName(StandIn.OP_CMA_SET)));
                seen.add(Arrays.toString(StandIn.lastValue(StandIn.OP_CMA_SET)));
                seen.add(m.get(msg, t[0]));
                seen.add(Arrays.toString(StandIn.lastName(StandIn.OP_CMA_GET)));
                seen.add(m.value());
            }
            seen.add(m.get(msg, "absent"));
            seen.add(m.value());
            StandIn.nextGetLeavesSlotNull(3);
            seen.add(m.get(msg, TEXTS[0][0]));
            seen.add(m.value());
            for (String[] t : TEXTS) {
                seen.add(m.remove(msg, t[0]));
                seen.add(Arrays.toString(StandIn.lastName(StandIn.OP_CMA_REMOVE)));
                seen.add(m.remove(msg, t[0]));
                seen.add(m.get(msg, t[0]));
            }
            long gone = StandIn.newMessage();
            StandIn.destroy(gone);
            seen.add(m.set(gone, "a", "b"));
            seen.add(m.remove(gone, "a"));
        }},
        // Not for the floor, which hands such bytes to NewStringUTF unchecked.
        {"values the converter cannot read", (BiConsumer<Mechanism, List<Object>>) (m, seen) -> {
            long msg = StandIn.newMessage();
            for (byte[] raw : RAW_VALUES) {
                StandIn.putCma(msg, new byte[] {'r'}, raw);
                seen.add(m.get(msg, "r"));
                seen.add(m.value());
            }
        }},
        {"names", (BiConsumer<Mechanism, List<Object>>) (m, seen) -> {
            long msg = StandIn.newMessage();
            for (String[] t : TEXTS) m.set(msg, t[0], t[1]);
            StandIn.putCma(msg, new byte[] {(byte) 0xFF}, new byte[] {'v'});  // a name that does not convert
            seen.add(m.names(msg));
            seen.add(Arrays.toString(m.names()));
            long empty = StandIn.newMessage();
            seen.add(m.names(empty));
            seen.add(Arrays.toString(m.names()));  // unchanged
            StandIn.nextNamesCount(-3);
            seen.add(m.names(empty));
            StandIn.forceNextResult(StandIn.OP_CMA_NAMES, 9);
            seen.add(m.names(msg));
            seen.add(Arrays.toString(m.names()));  // unchanged
            long many = StandIn.newMessage();
            for (int i = 0; i < 1000; i++)
                StandIn.putCma(many, StandIn.nativeBytes("n" + i), new byte[] {'v'});
            seen.add(m.names(many));
            seen.add(Arrays.hashCode(m.names()) + "/" + m.names().length);
            long gone = StandIn.newMessage();
            StandIn.destroy(gone);
            seen.add(m.names(gone));
        }},
    };

    /** Strings whose native bytes the Java-side encoder must get exactly right. */
    static final String[] ENCODE = {
        "", "abc", "a?b", "\0", "nul\0inside", "\uD800", "?\uD800", "\uDC00\uD800", "\uD800\uDC00",
        "\u00E9", "\u20AC", "\uD834\uDD1E?\u0000", "x\uDBFF", Bench.repeat("4K of ASCII ", 4096),
    };

    /** Native bytes that the converter refuses, so the Java-side decoder must too. */
    static final int[][] NOT_NATIVE = {
        {0x80}, {0xC0}, {0xC1, 0x81}, {0xE0, 0x80, 0x80}, {0xED, 0xA0, 0x80, 0xED, 0xB0, 0x80},
        {0xF0, 0x80, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80}, {0xF8, 0x88, 0x80, 0x80, 0x80}, {0x41, 0xE2, 0x82},
    };

    /**
     * Checks the parts of the harness that no mechanism comparison sees: the
     * Java-side encoding against the stand-in's own, and the statistics.
     */
    static int selfTest() {
        int failures = 0;
        for (String text : ENCODE) {
            byte[] want = StandIn.nativeBytes(text);
            byte[] c = NativeText.cString(text);
            if (!Arrays.equals(NativeText.bytes(text), want) || c[c.length - 1] != 0
                    || !Arrays.equals(Arrays.copyOf(c, c.length - 1), want)
                    || !text.equals(NativeText.decode(want))) {
                System.out.println("MISMATCH native text of chars " + show(text.chars()
                        .mapToObj(Integer::toHexString).reduce((a, b) -> a + " " + b).orElse("")));
                failures++;
            }
        }
        for (int[] raw : NOT_NATIVE) {
            byte[] b = new byte[raw.length];
            for (int i = 0; i < raw.length; i++) b[i] = (byte) raw[i];
            if (NativeText.decode(b) != null) {
                System.out.println("MISMATCH decoded bytes the converter refuses: " + Arrays.toString(raw));
                failures++;
            }
        }
        double[][] stats = {  // values, then median, min, max
            {3, 1, 2, Double.NaN, 2, 1, 3},
            {4, 1, 3, 2, 2.5, 1, 4},
        };
        for (double[] row : stats) {
            double[] v = Arrays.stream(row, 0, 4).filter(x -> !Double.isNaN(x)).toArray();
            if (Bench.median(v) != row[4] || Bench.min(v) != row[5] || Bench.max(v) != row[6]) {
                System.out.println("MISMATCH statistics of " + Arrays.toString(v));
                failures++;
            }
        }
        // Per mechanism, per round: the ratios within rounds are 2, 4 and 1,
        // while the medians' ratio would be 3.
        double[][] rounds = {{10, 40, 30}, {5, 10, 30}};
        if (Bench.pairedRatio(rounds, 0, 1) != 2 || Bench.pairedRatio(rounds, 1, 0) != 0.5) {
            System.out.println("MISMATCH paired ratio");
            failures++;
        }
        failures += harnessTest();
        System.out.printf("checked %-34s %3d cases%n", "native text, statistics, harness",
                ENCODE.length + NOT_NATIVE.length + stats.length + 4);
        return failures;
    }

    /** A mechanism whose every call yields `perCall`, to test the harness alone. */
    static final class Fake extends Mechanism {
        final String label;
        final int perCall;

        Fake(String label, int perCall) {
            this.label = label;
            this.perCall = perCall;
        }

        @Override public String label() { return label; }
        @Override public int send(long h) { return perCall; }
        @Override public int ack(long h) { return perCall; }
        @Override public int monSend(long h) { return perCall; }
        @Override public int set(long h, String n, String v) { return perCall; }
        @Override public int get(long h, String n) { return perCall; }
        @Override public int remove(long h, String n) { return perCall; }
        @Override public int names(long h) { return perCall; }
        @Override public String value() { return ""; }
        @Override public String[] names() { return new String[0]; }
        @Override public long loopSend(int n) { return (long) n * perCall; }
        @Override public long loopAck(int n) { return (long) n * perCall; }
        @Override public long loopMonSend(int n) { return (long) n * perCall; }
        @Override public long loopSet(int n) { return (long) n * perCall; }
        @Override public long loopGet(int n) { return (long) n * perCall; }
        @Override public long loopRemove(int n) { return (long) n * perCall; }
        @Override public long loopNames(int n) { return (long) n * perCall; }
    }

    // A round whose calls yield what the case does not expect must stop the
    // run; the CSV must keep its columns when a mechanism is absent.
    private static int harnessTest() {
        int failures = 0;
        Bench.Case send = new Bench.Case("send", Bench.Op.SEND, 1);
        try {
            Bench.time(send, new Fake("wrong", 1), 3);
            System.out.println("MISMATCH a loop that yielded the wrong results was timed");
            failures++;
        } catch (IllegalStateException expected) {
            // the run stops, as it must
        }
        Bench bench = new Bench();
        bench.mechanisms.addAll(List.<Mechanism>of(new Fake("library", 0), new Fake("floor", 0), new Fake("JNA", 0)));
        bench.cases.add(send);
        double[][] r = {{4, 6, 8}, {2, 3, 4}, {8, 12, 16}};
        try {
            Path csv = Files.createTempFile("bench", ".csv");
            bench.writeCsv(csv, List.of("header"), Collections.singletonList(r));
            List<String> lines = Files.readAllLines(csv);
            Files.delete(csv);
            String want = "\"send\",6.0000,4.0000,8.0000,3.0000,2.0000,4.0000,NaN,NaN,NaN,12.0000,8.0000,16.0000,"
                    + "NaN,NaN,NaN,2.0000,NaN,2.0000,NaN";
            if (lines.size() != 3 || !lines.get(0).equals("# header") || lines.get(1).split(",").length != 20
                    || !lines.get(2).equals(want)) {
                System.out.println("MISMATCH CSV: " + lines);
                failures++;
            }
        } catch (IOException e) {
            System.out.println("MISMATCH CSV not written: " + e);
            failures++;
        }
        return failures;
    }

    /** Runs every scenario; prints each mismatch and returns how many there were. */
    @SuppressWarnings("unchecked")
    static int run(List<Mechanism> mechanisms) {
        int failures = 0;
        for (Object[] scenario : SCENARIOS) {
            List<List<Object>> notes = new ArrayList<>();
            for (Mechanism m : mechanisms) {
                if (m.label().equals("floor") && scenario[0].equals("values the converter cannot read")) {
                    notes.add(null);
                    continue;
                }
                StandIn.reset();  // recording on, nothing planted
                List<Object> seen = new ArrayList<>();
                ((BiConsumer<Mechanism, List<Object>>) scenario[1]).accept(m, seen);
                notes.add(seen);
            }
            for (int mi = 1; mi < mechanisms.size(); mi++) {
                List<Object> want = notes.get(0);
                List<Object> got = notes.get(mi);
                if (got == null) continue;
                for (int i = 0; i < Math.max(want.size(), got.size()); i++) {
                    Object w = i < want.size() ? want.get(i) : "(nothing)";
                    Object g = i < got.size() ? got.get(i) : "(nothing)";
                    if (!Objects.equals(w, g)) {
                        System.out.printf("MISMATCH %s, %s, note %d: %s gave %s, %s gave %s%n", scenario[0],
                                mechanisms.get(mi).label(), i, mechanisms.get(0).label(), show(w),
                                mechanisms.get(mi).label(), show(g));
                        failures++;
                        break;
                    }
                }
            }
            StringBuilder who = new StringBuilder();
            for (int mi = 1; mi < mechanisms.size(); mi++)
                if (notes.get(mi) != null) who.append(' ').append(mechanisms.get(mi).label());
            System.out.printf("checked %-34s %3d notes:%s as the library%n", scenario[0], notes.get(0).size(), who);
        }
        return failures;
    }

    private static String show(Object o) {
        String s = String.valueOf(o);
        return s.length() > 80 ? s.substring(0, 80) + "..." : s;
    }
}
