package jqel.bench;

import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import jqel.bench.coding.Coding;
import jqel.standin.StandIn;

/**
 * What each native of the library costs, against its floor (the same JNI work
 * with nothing added), JNA and the foreign-function API, and what the facade
 * JQelAgent adds to it, all in this one JVM against the stand-in agent with
 * its recording off.
 *
 * Each case is one operation of one mechanism, timed as a loop of n calls.
 * Warm-up raises n until a round lasts at least the round time; then the timed
 * rounds run round-robin over all cases, so that drift in the machine's speed
 * spreads over every case alike. Reported: median ns per call, with the
 * minimum and maximum over the rounds.
 *
 * A second table times the converter library against the JVM's own string
 * coding, on the same rounds: convertStringFromUTF (and free) against
 * GetStringUTFChars + ReleaseStringUTFChars, and convertStringToUTF against
 * NewStringUTF, of 4 KiB of ASCII and of mixed text.
 *
 * usage: Bench [--rounds N] [--round-ms MS] [--quick] [--cases REGEX] [--smoke] [--csv FILE]
 *   --quick  10 ms rounds: proves the run works, numbers are rough
 *   --cases  only the cases whose label matches REGEX (say "names.*")
 *   --smoke  checks that every mechanism gives the library's results, then
 *            runs every case once; prints no timing
 */
public final class Bench {
    /** Where every loop's yield goes, so that the JIT cannot drop the calls. */
    static volatile long sink;

    enum Op { SEND, ACK, MON_SEND, SET, GET, REMOVE, NAMES }

    /** The CMA names that the remove cases plant and remove, per batch. */
    static final int REMOVE_BATCH = 1000;

    /** One operation with its inputs; run by every mechanism. */
    static final class Case {
        final String label;
        final Op op;
        final long handle;
        String name;
        String value;
        long yieldPerCall;   // what one call adds to the loop's sum
        byte[] plantValue;   // remove: the value of every planted CMA
        String[] removeNames;
        byte[][] plantNames;

        Case(String label, Op op, long handle) {
            this.label = label;
            this.op = op;
            this.handle = handle;
        }
    }

    /**
     * One text converted one way by the converter library and by the JVM's
     * own coding ({@link Coding}), each n times per native call.
     */
    static final class Conversion {
        final String label;
        final boolean toUtf;  // native bytes to a Java string; else the reverse
        final String text;

        Conversion(String label, boolean toUtf, String text) {
            this.label = label;
            this.toUtf = toUtf;
            this.text = text;
        }
    }

    /** What one column of a table row times: n calls, returning the ns they took. */
    interface Timer {
        long time(int n);
    }

    final List<Mechanism> mechanisms = new ArrayList<>();
    String ffmAbsent;  // why there are no FFM rows, or null
    final List<Case> cases = new ArrayList<>();
    final List<Conversion> conversions = new ArrayList<>();

    public static void main(String[] args) throws Exception {
        int rounds = 11;
        long roundMs = 100;
        boolean smoke = false;
        String only = ".*";
        Path csv = null;
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--rounds": rounds = Integer.parseInt(args[++i]); break;
                case "--round-ms": roundMs = Long.parseLong(args[++i]); break;
                case "--quick": roundMs = 10; break;
                case "--smoke": smoke = true; break;
                case "--cases": only = args[++i]; break;
                case "--csv": csv = Path.of(args[++i]); break;
                default: throw new IllegalArgumentException("unknown argument " + args[i]);
            }
        }
        Bench bench = new Bench();
        bench.loadMechanisms();
        if (smoke) {
            int failures = Check.selfTest() + Check.run(bench.mechanisms);
            bench.makeCases();
            List<double[][]> unused = bench.measure(1, 0);  // every loop once, yields checked
            System.out.println(unused.size() == bench.cases.size() + bench.conversions.size() && failures == 0
                    ? "bench smoke: every mechanism gave the library's results; every case ran"
                    : "bench smoke: FAILED (" + failures + " mismatches)");
            System.exit(failures == 0 ? 0 : 1);
        }
        String loadBefore = loadAverage();
        bench.makeCases();
        String pattern = only;
        bench.cases.removeIf(c -> !c.label.matches(pattern));
        bench.conversions.removeIf(c -> !c.label.matches(pattern));
        List<double[][]> results = bench.measure(rounds, roundMs * 1_000_000L);
        List<double[][]> converted = results.subList(bench.cases.size(), results.size());
        results = results.subList(0, bench.cases.size());
        String loadAfter = loadAverage();
        List<String> header = List.of(
                "JVM: " + System.getProperty("java.vm.name") + " " + System.getProperty("java.runtime.version")
                        + " (" + System.getProperty("java.home") + ")",
                "rounds: " + rounds + " timed, round-robin over "
                        + (bench.cases.size() * bench.mechanisms.size() + bench.conversions.size() * 2)
                        + " cases, each round at least " + roundMs + " ms after warm-up",
                "load average (1, 5, 15 min): " + loadBefore + " at start, " + loadAfter + " at end",
                "FFM: " + (bench.ffmAbsent == null ? "java.lang.foreign downcalls" : "absent, " + bench.ffmAbsent));
        bench.print(System.out, header, results);
        bench.printConversions(System.out, converted);
        if (csv != null) {
            bench.writeCsv(csv, header, results);
            bench.writeConversionsCsv(csv.resolveSibling("converter.csv"), header, converted);
        }
    }

    // ---- mechanisms and cases -------------------------------------------

    void loadMechanisms() {
        String agent = System.getProperty("jqel.bench.agent");
        if (agent == null) throw new IllegalStateException("-Djqel.bench.agent=<path of libqelagtapi> is required");
        mechanisms.add(new LibraryMechanism());
        mechanisms.add(new FloorMechanism());
        mechanisms.add(new FacadeMechanism());
        mechanisms.add(new JnaMechanism(agent));
        int feature = Runtime.version().feature();
        ffmAbsent = System.getProperty("jqel.bench.ffm.absent");
        if (ffmAbsent == null && feature < 22)
            ffmAbsent = "this JVM is Java " + feature + " and the foreign-function API needs 22 or later";
        if (ffmAbsent == null) {
            try {
                mechanisms.add((Mechanism) Class.forName("jqel.bench.ffm.FfmMechanism")
                        .getDeclaredConstructor().newInstance());
            } catch (ReflectiveOperationException e) {
                ffmAbsent = "its classes are not on the class path (" + e + ")";
            }
        }
        StandIn.reset();
        StandIn.setRecording(false);
    }

    static String repeat(String unit, int length) {
        return unit.repeat(length / unit.length() + 1).substring(0, length);
    }

    void makeCases() {
        StandIn.reset();
        StandIn.setRecording(false);
        String name16 = "cma-name-0000001";
        String value16 = "value-0123456789";
        String value4k = repeat("The quick brown fox jumps over the lazy dog 0123456789. ", 4096);

        long message = StandIn.newMessage();
        JQelAgentMessage.QelAgtMessageSend(message);  // so that acknowledging it succeeds
        cases.add(new Case("message send", Op.SEND, message));
        cases.add(new Case("message ack", Op.ACK, message));
        cases.add(new Case("monvalue send", Op.MON_SEND, StandIn.newMonValue()));

        for (String[] v : new String[][] {{"16", value16}, {"4K", value4k}}) {
            Case set = new Case("set 16/" + v[0], Op.SET, StandIn.newMessage());
            set.name = name16;
            set.value = v[1];
            cases.add(set);
            Case get = new Case("get 16/" + v[0], Op.GET, StandIn.newMessage());
            get.name = name16;
            get.yieldPerCall = v[1].length();
            StandIn.putCma(get.handle, StandIn.nativeBytes(name16), StandIn.nativeBytes(v[1]));
            cases.add(get);
        }
        for (String[] v : new String[][] {{"16", value16}, {"4K", value4k}}) {
            Case remove = new Case("remove 16/" + v[0], Op.REMOVE, StandIn.newMessage());
            remove.plantValue = StandIn.nativeBytes(v[1]);
            remove.removeNames = new String[REMOVE_BATCH];
            remove.plantNames = new byte[REMOVE_BATCH][];
            for (int i = 0; i < REMOVE_BATCH; i++) {
                remove.removeNames[i] = String.format("rm-name-%08d", i);
                remove.plantNames[i] = StandIn.nativeBytes(remove.removeNames[i]);
            }
            cases.add(remove);
        }
        for (int count : new int[] {1, 16, 1000}) {
            Case names = new Case("names " + count, Op.NAMES, StandIn.newMessage());
            for (int i = 0; i < count; i++)
                StandIn.putCma(names.handle, StandIn.nativeBytes(String.format("cma-name-%07d", i)),
                        StandIn.nativeBytes(value16));
            names.yieldPerCall = count;
            cases.add(names);
        }

        // Mixed: Latin-1 letters, Greek, CJK, and an emoji beyond U+FFFF
        // (two chars), between ASCII words.
        String mixed4k = repeat("Grüße aus Köln, καλημέρα, 東京 und São Paulo: 20 € 😀. ", 4096);
        for (String[] t : new String[][] {{"4K ASCII", value4k}, {"4K mixed", mixed4k}}) {
            conversions.add(new Conversion("from UTF " + t[0], false, t[1]));
            conversions.add(new Conversion("to UTF " + t[0], true, t[1]));
        }
    }

    // ---- timing ----------------------------------------------------------

    /** Runs n calls of case c with mechanism m; returns the nanoseconds they took. */
    static long time(Case c, Mechanism m, int n) {
        m.handle = c.handle;
        m.name = c.name;
        m.value = c.value;
        m.removeNames = c.removeNames;
        long sum;
        long elapsed;
        if (c.op == Op.REMOVE) {
            // Remove what is there: plant a batch untimed, then time removing it.
            sum = 0;
            elapsed = 0;
            for (int done = 0; done < n; ) {
                int k = Math.min(REMOVE_BATCH, n - done);
                for (int i = 0; i < k; i++) StandIn.putCma(c.handle, c.plantNames[i], c.plantValue);
                long t0 = System.nanoTime();
                sum += m.loopRemove(k);
                elapsed += System.nanoTime() - t0;
                done += k;
            }
        } else {
            long t0 = System.nanoTime();
            sum = loop(c.op, m, n);
            elapsed = System.nanoTime() - t0;
        }
        if (sum != c.yieldPerCall * n)
            throw new IllegalStateException(m.label() + " " + c.label + ": " + n + " calls yielded " + sum
                    + ", expected " + c.yieldPerCall * n + " (a call failed or read something else)");
        sink += sum;
        return elapsed;
    }

    /** Runs n conversions of c by the converter or the JVM; returns the nanoseconds they took. */
    static long time(Conversion c, boolean converter, int n) {
        long t0 = System.nanoTime();
        long made = c.toUtf
                ? converter ? Coding.converterToUtf(c.text, n) : Coding.jvmToUtf(c.text, n)
                : converter ? Coding.converterFromUtf(c.text, n) : Coding.jvmFromUtf(c.text, n);
        long elapsed = System.nanoTime() - t0;
        if (made != n)
            throw new IllegalStateException((converter ? "converter " : "JVM ") + c.label + ": " + made + " of "
                    + n + " conversions made a result");
        sink += made;
        return elapsed;
    }

    static long loop(Op op, Mechanism m, int n) {
        switch (op) {
            case SEND: return m.loopSend(n);
            case ACK: return m.loopAck(n);
            case MON_SEND: return m.loopMonSend(n);
            case SET: return m.loopSet(n);
            case GET: return m.loopGet(n);
            case NAMES: return m.loopNames(n);
            default: throw new IllegalArgumentException(op.toString());
        }
    }

    /**
     * Warms every case up until one round of it lasts at least minRoundNs,
     * then takes `rounds` timed rounds round-robin. Returns, per case (per
     * mechanism) and then per conversion (converter, JVM), the ns per call of
     * each round.
     */
    List<double[][]> measure(int rounds, long minRoundNs) {
        // One row per case (a column per mechanism), then one per conversion
        // (the converter, then the JVM).
        List<Timer[]> rows = new ArrayList<>();
        for (Case c : cases) {
            Timer[] row = new Timer[mechanisms.size()];
            for (int mi = 0; mi < row.length; mi++) {
                Mechanism m = mechanisms.get(mi);
                row[mi] = n -> time(c, m, n);
            }
            rows.add(row);
        }
        for (Conversion c : conversions)
            rows.add(new Timer[] {n -> time(c, true, n), n -> time(c, false, n)});

        int[][] calls = new int[rows.size()][];
        for (int ri = 0; ri < rows.size(); ri++) {
            Timer[] row = rows.get(ri);
            calls[ri] = new int[row.length];
            for (int mi = 0; mi < row.length; mi++) {
                // A round of cold code can last long enough on its own (the
                // first call links and compiles), so n is settled only when two
                // rounds in a row at the same n last long enough.
                int n = 1;
                int longEnough = 0;
                while (longEnough < 2) {
                    long t = row[mi].time(n);
                    if (t >= minRoundNs) {
                        longEnough++;
                    } else {
                        longEnough = 0;
                        double grow = t <= 0 ? 10 : 1.25 * minRoundNs / t;
                        n = (int) Math.min(Integer.MAX_VALUE / 2,
                                Math.max(n + 1L, (long) (n * Math.min(grow, 10))));
                    }
                }
                calls[ri][mi] = n;
            }
        }
        List<double[][]> result = new ArrayList<>();
        for (Timer[] row : rows) result.add(new double[row.length][rounds]);
        for (int r = 0; r < rounds; r++) {
            // Start each round at another row, so no row always follows the
            // same one. The columns of one row run back to back, each round
            // starting with another one.
            for (int kr = 0; kr < rows.size(); kr++) {
                int ri = (kr + r * 5) % rows.size();
                Timer[] row = rows.get(ri);
                for (int km = 0; km < row.length; km++) {
                    int mi = (km + r) % row.length;
                    int n = calls[ri][mi];
                    result.get(ri)[mi][r] = (double) row[mi].time(n) / n;
                }
            }
        }
        return result;
    }

    static double median(double[] v) {
        double[] s = v.clone();
        Arrays.sort(s);
        int n = s.length;
        return n % 2 == 1 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }

    static double min(double[] v) {
        return Arrays.stream(v).min().orElse(Double.NaN);
    }

    static double max(double[] v) {
        return Arrays.stream(v).max().orElse(Double.NaN);
    }

    static String loadAverage() {
        try {
            String[] f = Files.readString(Path.of("/proc/loadavg")).trim().split("\\s+");
            return f[0] + " " + f[1] + " " + f[2];
        } catch (IOException | RuntimeException e) {
            return "unknown";
        }
    }

    // ---- output ----------------------------------------------------------

    // Index of the mechanism labelled `label`, or -1.
    int index(String label) {
        for (int i = 0; i < mechanisms.size(); i++) if (mechanisms.get(i).label().equals(label)) return i;
        return -1;
    }

    /**
     * Mechanism num against mechanism den: the median over the rounds of
     * their ratio within each round. The two ran back to back in every round,
     * so a round slowed by the rest of the machine slows both alike.
     */
    static double pairedRatio(double[][] r, int num, int den) {
        double[] q = new double[r[num].length];
        for (int i = 0; i < q.length; i++) q[i] = r[num][i] / r[den][i];
        return median(q);
    }

    static String ratio(double[][] r, int num, int den) {
        return num < 0 ? "-" : String.format(Locale.ROOT, "%.2f", pairedRatio(r, num, den));
    }

    void print(PrintStream out, List<String> header, List<double[][]> results) {
        int lib = index("library");
        int floor = index("floor");
        int facade = index("facade");
        int jna = index("JNA");
        int ffm = index("FFM");
        out.println("JQelAgtMsg: ns per call, median over the rounds (min, max); stand-in agent, recording off;");
        out.println("ratios: median over the rounds of the two mechanisms' ratio in the same round");
        header.forEach(out::println);
        out.println();
        String f1 = "%-14s %10s %10s %10s %10s %10s %9s %9s%n";
        out.printf(Locale.ROOT, f1, "case", "ns/op", "min", "max", "lib/floor", "facade/lib", "JNA/lib", "FFM/lib");
        for (int ci = 0; ci < cases.size(); ci++) {
            double[][] r = results.get(ci);
            out.printf(Locale.ROOT, f1, cases.get(ci).label, ns(median(r[lib])), ns(min(r[lib])), ns(max(r[lib])),
                    ratio(r, lib, floor), ratio(r, facade, lib), ratio(r, jna, lib), ratio(r, ffm, lib));
        }
        out.println();
        out.println("Every mechanism (ns per call):");
        String f2 = "%-14s %-8s %10s %10s %10s %10s%n";
        out.printf(Locale.ROOT, f2, "case", "via", "ns/op", "min", "max", "/floor");
        for (int ci = 0; ci < cases.size(); ci++) {
            double[][] r = results.get(ci);
            for (int mi = 0; mi < mechanisms.size(); mi++)
                out.printf(Locale.ROOT, f2, mi == 0 ? cases.get(ci).label : "", mechanisms.get(mi).label(),
                        ns(median(r[mi])), ns(min(r[mi])), ns(max(r[mi])), ratio(r, mi, floor));
        }
        if (ffmAbsent != null) out.println("FFM: no rows: " + ffmAbsent);
    }

    void printConversions(PrintStream out, List<double[][]> results) {
        if (conversions.isEmpty()) return;
        out.println();
        out.println("The converter against the JVM's own string coding (ns per conversion, median over the rounds):");
        out.println("from UTF: convertStringFromUTF + free against GetStringUTFChars + ReleaseStringUTFChars;");
        out.println("to UTF: convertStringToUTF against NewStringUTF of the same text (each + DeleteLocalRef)");
        String f = "%-18s %10s %10s %10s %10s %10s %10s %9s%n";
        out.printf(Locale.ROOT, f, "case", "converter", "min", "max", "JVM", "min", "max", "conv/JVM");
        for (int ci = 0; ci < conversions.size(); ci++) {
            double[][] r = results.get(ci);
            out.printf(Locale.ROOT, f, conversions.get(ci).label, ns(median(r[0])), ns(min(r[0])), ns(max(r[0])),
                    ns(median(r[1])), ns(min(r[1])), ns(max(r[1])), ratio(r, 0, 1));
        }
    }

    static String ns(double v) {
        return String.format(Locale.ROOT, v < 100 ? "%.1f" : "%.0f", v);
    }

    /**
     * One line per case: the median, minimum and maximum of every mechanism,
     * then the three ratios of the table. Absent values are NaN. Lines before
     * the column names start with '#'.
     */
    void writeCsv(Path file, List<String> header, List<double[][]> results) throws IOException {
        String[] labels = {"library", "floor", "facade", "JNA", "FFM"};
        StringBuilder sb = new StringBuilder();
        for (String h : header) sb.append("# ").append(h).append('\n');
        sb.append("case");
        for (String l : labels) {
            String k = l.toLowerCase(Locale.ROOT);
            sb.append(',').append(k).append("_median,").append(k).append("_min,").append(k).append("_max");
        }
        sb.append(",library_over_floor,facade_over_library,jna_over_library,ffm_over_library\n");
        for (int ci = 0; ci < cases.size(); ci++) {
            double[][] r = results.get(ci);
            sb.append('"').append(cases.get(ci).label).append('"');
            for (String l : labels) {
                int mi = index(l);
                for (double v : mi < 0 ? new double[] {Double.NaN, Double.NaN, Double.NaN}
                        : new double[] {median(r[mi]), min(r[mi]), max(r[mi])})
                    sb.append(',').append(num(v));
            }
            sb.append(',').append(over(r, index("library"), index("floor")))
                    .append(',').append(over(r, index("facade"), index("library")))
                    .append(',').append(over(r, index("JNA"), index("library")))
                    .append(',').append(over(r, index("FFM"), index("library"))).append('\n');
        }
        Files.createDirectories(file.toAbsolutePath().getParent());
        Files.writeString(file, sb.toString(), StandardCharsets.UTF_8);
    }

    /** As writeCsv, for the conversions: the converter's and the JVM's figures and their ratio. */
    void writeConversionsCsv(Path file, List<String> header, List<double[][]> results) throws IOException {
        StringBuilder sb = new StringBuilder();
        for (String h : header) sb.append("# ").append(h).append('\n');
        sb.append("case,converter_median,converter_min,converter_max,jvm_median,jvm_min,jvm_max,converter_over_jvm\n");
        for (int ci = 0; ci < conversions.size(); ci++) {
            double[][] r = results.get(ci);
            sb.append('"').append(conversions.get(ci).label).append('"');
            for (double[] column : r)
                for (double v : new double[] {median(column), min(column), max(column)}) sb.append(',').append(num(v));
            sb.append(',').append(over(r, 0, 1)).append('\n');
        }
        Files.createDirectories(file.toAbsolutePath().getParent());
        Files.writeString(file, sb.toString(), StandardCharsets.UTF_8);
    }

    static String over(double[][] r, int num, int den) {
        return num < 0 ? "NaN" : num(pairedRatio(r, num, den));
    }

    static String num(double v) {
        return Double.isNaN(v) ? "NaN" : String.format(Locale.ROOT, "%.4f", v);
    }
}
