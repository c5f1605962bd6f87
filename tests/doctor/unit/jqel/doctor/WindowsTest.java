package jqel.doctor;

import static jqel.doctor.Tree.row;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import org.junit.jupiter.api.Timeout;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Windows' loader as the doctor models it: where it looks for each DLL, in
 * which order, what it passes over, what each importer takes from each DLL
 * (forwarders and API sets included), and the PE files it reads. Each row
 * changes the 32-bit tree of Tree.windows (or the 64-bit one of
 * Tree.windows64, for a row whose name begins "x64:").
 */
class WindowsTest {
    static Stream<Arguments> rows() {
        return Stream.of(
            row("a stale agent DLL in SysWOW64 comes before PATH",
                t -> new Binaries.Dll().exports(3, 4, 5, 37, 38, 39).write(t.file("win/SysWOW64/libqelagtapi.dll")),
                Fault.LACKS, "SysWOW64/libqelagtapi.dll lacks ordinal 40", "remove %ROOT%/win/SysWOW64/libqelagtapi.dll:"
                    + " Windows takes it before any folder of PATH"),
            row("the program's folder comes before the system folder",
                t -> {
                    new Binaries.Dll().exports(3).write(t.file("jre/bin/libqelagtapi.dll"));
                    new Binaries.Dll().exports(3, 4).write(t.file("win/SysWOW64/libqelagtapi.dll"));
                },
                Fault.LACKS, "jre/bin/libqelagtapi.dll lacks ordinal 4, "),
            row("the system folder comes before the 16-bit one",
                t -> {
                    new Binaries.Dll().exports(3).write(t.file("win/SysWOW64/libqelagtapi.dll"));
                    new Binaries.Dll().exports(3, 4).write(t.file("win/System/libqelagtapi.dll"));
                },
                Fault.LACKS, "SysWOW64/libqelagtapi.dll lacks ordinal 4, "),
            row("the 16-bit system folder comes before the Windows folder",
                t -> {
                    new Binaries.Dll().exports(3).write(t.file("win/System/libqelagtapi.dll"));
                    new Binaries.Dll().exports(3, 4).write(t.file("win/libqelagtapi.dll"));
                },
                Fault.LACKS, "win/System/libqelagtapi.dll lacks ordinal 4, "),
            row("the current folder comes before PATH",
                t -> new Binaries.Dll().exports(3).write(t.file("libqelagtapi.dll")),
                Fault.LACKS, "start the program in another folder"),
            row("a DLL the JVM holds (JVM.DLL in its server folder) is taken; a DLL missing three levels down is named",
                t -> {
                    Tree.converter().imports("jvm.dll", "JNI_GetCreatedJavaVMs").write(t.file("prod/JQelAgtbase.dll"));
                    Tree.agent().imports("libqelagtcore.dll", "qelcore_init").write(t.file("prod/libqelagtapi.dll"));
                    Binaries.Dll core = new Binaries.Dll().imports("libqelagtdeep.dll", "qeldeep_init");
                    core.exports.put(1, "qelcore_init");
                    core.write(t.file("prod/libqelagtcore.dll"));
                    Binaries.Dll jvm = new Binaries.Dll();
                    jvm.exports.put(1, "JNI_GetCreatedJavaVMs");
                    jvm.write(t.file("jre/bin/server/JVM.DLL"));
                },
                Fault.MISSING, "jvm.dll: %ROOT%/jre/bin/server/JVM.DLL, PE i386 (32-bit), already loaded in the JVM's process",
                "libqelagtdeep.dll is in none of the folders Windows looks in"
                    + " (JQelAgtMsg.dll -> libqelagtapi.dll -> libqelagtcore.dll -> libqelagtdeep.dll)"),
            row("a KnownDLL comes from the 32-bit system folder before the program's; a system DLL's imports are not followed",
                t -> {
                    Tree.agent().imports("KERNEL32.dll", "GetProcAddress").write(t.file("prod/libqelagtapi.dll"));
                    Binaries.Dll kernel = new Binaries.Dll().imports("nowhere.dll", "f");
                    kernel.exports.put(1, "GetProcAddress");
                    kernel.write(t.file("win/SysWOW64/kernel32.dll"));
                    new Binaries.Dll().exports(1).write(t.file("jre/bin/KERNEL32.dll"));
                },
                null, "KERNEL32.dll: %ROOT%/win/SysWOW64/kernel32.dll, PE i386 (32-bit), KnownDLLs, from the system folder,"
                    + " assumed: the registry is not read"),
            row("Java 8 with a plain JRE: java.home's bin stands for the program's folder",
                t -> {
                    t.properties.setProperty("java.version", "1.8.0_504");
                    t.properties.setProperty("jqel.doctor.command", "");
                    t.properties.setProperty("jqel.doctor.javahome", t.file("jre").getPath());
                    Files.move(t.file("prod/libqelagtapi.dll").toPath(), t.file("jre/bin/libqelagtapi.dll").toPath());
                },
                null, "  %ROOT%/jre/bin (the program's folder, assumed java.exe: Java 8 does not say which program runs)",
                "libqelagtapi.dll: %ROOT%/jre/bin/libqelagtapi.dll"),
            row("Java 8 in a JDK: an agent DLL only in jdk\\jre\\bin, which may not be the program's folder",
                t -> {
                    t.properties.setProperty("java.version", "1.8.0_504");
                    t.properties.setProperty("jqel.doctor.command", "");
                    t.properties.setProperty("jqel.doctor.javahome", t.file("jdk/jre").getPath());
                    t.file("jdk/bin").mkdirs();
                    Files.createFile(t.file("jdk/bin/java.exe").toPath());
                    t.file("jdk/jre/bin").mkdirs();
                    Files.move(t.file("prod/libqelagtapi.dll").toPath(), t.file("jdk/jre/bin/libqelagtapi.dll").toPath());
                },
                Fault.PROGRAM_ASSUMED, "libqelagtapi.dll is only in %ROOT%/jdk/jre/bin", "put its folder on PATH"),
            row("System32 is not the system folder of a 32-bit JVM; names differ in case; a 64-bit copy is passed over",
                t -> {
                    new Binaries.Dll().exports(3).write(t.file("win/System32/libqelagtapi.dll"));
                    Files.move(t.file("prod/JQelAgtbase.dll").toPath(), t.file("prod/jqelagtbase.dll").toPath());
                    Binaries.Dll wide = Tree.agent();
                    wide.machine = 0x8664;
                    wide.write(t.file("p64/libqelagtapi.dll"));
                    t.properties.setProperty("jqel.doctor.path", t.file("p64") + ";" + t.file("prod"));
                },
                null, "JQelAgtbase.dll: %ROOT%/prod/jqelagtbase.dll", "passed over %ROOT%/p64/libqelagtapi.dll"),
            row("PATH written with '\\' and in another case",
                t -> t.properties.setProperty("jqel.doctor.path", (t.root + "/PROD").replace('/', '\\')),
                null, "  %ROOT%/prod (PATH)", "libqelagtapi.dll: %ROOT%/prod/libqelagtapi.dll"),
            row("a 32-bit JVM sees System32 on PATH as SysWOW64",
                t -> {
                    Files.move(t.file("prod/JQelAgtbase.dll").toPath(), t.file("win/System32/JQelAgtbase.dll").toPath());
                    t.properties.setProperty("jqel.doctor.path", t.file("win/system32").getPath());
                },
                Fault.MISSING, "  %ROOT%/win/SysWOW64 (PATH)", "JQelAgtbase.dll is in none of the folders Windows looks in"),
            row("only a 64-bit agent DLL",
                t -> {
                    Binaries.Dll wide = Tree.agent();
                    wide.machine = 0x8664;
                    wide.write(t.file("prod/libqelagtapi.dll"));
                },
                Fault.OTHER_BITNESS, "Fault: libqelagtapi.dll is in none of the folders Windows looks in; only a 64-bit"
                    + " libqelagtapi.dll is there, at %ROOT%/prod/libqelagtapi.dll, which Windows passes over",
                "Verdict: the agent's library libqelagtapi.dll was not found for this 32-bit JVM: only a 64-bit"
                    + " libqelagtapi.dll is there, at %ROOT%/prod/libqelagtapi.dll: put the folder that holds one built for"
                    + " x86 (32-bit) on PATH"),
            row("x64: the 64-bit DLL, PE32+ read whole, in a 64-bit JVM", t -> { },
                null, "libqelagtapi.dll: %ROOT%/prod/libqelagtapi.dll, PE AMD64 (64-bit)",
                "msvcrt.dll: %ROOT%/win/System32/msvcrt.dll, PE AMD64 (64-bit), KnownDLLs"),
            row("x64: an agent DLL lacking an ordinal the 64-bit DLL imports",
                t -> {
                    Binaries.Dll agent = new Binaries.Dll().exports(3, 4, 5, 37, 38, 39);
                    agent.machine = 0x8664;
                    agent.write(t.file("prod/libqelagtapi.dll"));
                },
                Fault.LACKS, "libqelagtapi.dll lacks ordinal 40, which JQelAgtMsg.dll imports from it"),
            row("x64: an ARM64 agent DLL is passed over, as one of the other bitness is",
                t -> {
                    Binaries.Dll arm = Tree.agent();
                    arm.machine = 0xAA64;
                    arm.write(t.file("prod/libqelagtapi.dll"));
                },
                Fault.OTHER_BITNESS, "only a libqelagtapi.dll built for ARM64 is there"),
            row("PATH without the product's folder",
                t -> t.properties.setProperty("jqel.doctor.path", t.file("none").getPath()),
                Fault.MISSING, "Verdict: the product's converter JQelAgtbase.dll was not found: put the folder that holds it"
                    + " on PATH"),
            row("the agent's DLLs beside the library only",
                t -> Files.move(t.file("prod/JQelAgtbase.dll").toPath(), t.file("lib/JQelAgtbase.dll").toPath()),
                Fault.BESIDE, "JQelAgtbase.dll is beside JQelAgtMsg.dll in %ROOT%/lib, where Windows does not look for it:"
                    + " put %ROOT%/lib on PATH"),
            row("a PATH entry in quotes",
                t -> t.properties.setProperty("jqel.doctor.path", "\"" + t.file("prod") + "\""),
                Fault.QUOTED, "the PATH entry \"", "remove the quotes from that entry of PATH"),
            row("an unexpanded variable in PATH",
                t -> t.properties.setProperty("jqel.doctor.path", "%QEL_HOME%\\bin"),
                Fault.MISSING, "PATH holds %QEL_HOME%\\bin, which names a variable Windows did not expand"),
            row("the first agent DLL Windows finds is no DLL",
                t -> Files.write(t.file("prod/libqelagtapi.dll").toPath(), "text".getBytes(StandardCharsets.US_ASCII)),
                Fault.BAD_DEPENDENCY, "the first libqelagtapi.dll that Windows finds, is not a library",
                "repair the installation it comes from, or put the folder of the right libqelagtapi.dll on PATH before"),
            row("a program where the agent DLL should be",
                t -> {
                    Binaries.Dll program = Tree.agent();
                    program.characteristics = 0x0102;
                    program.write(t.file("prod/libqelagtapi.dll"));
                },
                Fault.BAD_DEPENDENCY, "libqelagtapi.dll that Windows finds, is a Windows program, not a DLL"),
            row("an ordinal slot left empty exports nothing",
                t -> new Binaries.Dll().exports(3, 4, 5, 37, 38, 39, 41).write(t.file("prod/libqelagtapi.dll")),
                Fault.LACKS, "libqelagtapi.dll lacks ordinal 40, which"),
            row("a DLL whose last table ends at its last byte",
                t -> {
                    Binaries.Dll converter = Tree.converter();
                    converter.trimmed = true;
                    converter.write(t.file("prod/JQelAgtbase.dll"));
                },
                null, "JQelAgtbase.dll: %ROOT%/prod/JQelAgtbase.dll, PE i386 (32-bit)"),
            row("a DLL of 65,535 sections and 65,535 imports by name",
                t -> {
                    Binaries.Dll hostile = Tree.ours();
                    hostile.extraSections = 65534;
                    String[] names = new String[65535 - 12];
                    for (int i = 0; i < names.length; i++) {
                        names[i] = "f" + i;
                    }
                    hostile.imports("hostile.dll", names).write(t.file("lib/JQelAgtMsg.dll"));
                },
                Fault.MISSING, "hostile.dll is in none of the folders Windows looks in"),
            row("the converter imports from the agent, taken already, a function it lacks",
                t -> Tree.converter().imports("libqelagtapi.dll", "qelagt_extra").write(t.file("prod/JQelAgtbase.dll")),
                Fault.LACKS, "%ROOT%/prod/libqelagtapi.dll lacks qelagt_extra, which JQelAgtbase.dll imports from it"),
            row("a DLL importing from itself a name it lacks",
                t -> Tree.agent().imports("libqelagtapi.dll", "qelagt_self").write(t.file("prod/libqelagtapi.dll")),
                Fault.LACKS, "libqelagtapi.dll lacks qelagt_self, which libqelagtapi.dll imports from it"),
            row("a cycle: the agent imports from the converter, which the library imported first",
                t -> Tree.agent().imports("JQelAgtbase.dll", "convertMore").write(t.file("prod/libqelagtapi.dll")),
                Fault.LACKS, "JQelAgtbase.dll lacks convertMore, which libqelagtapi.dll imports from it"),
            row("breadth-first: a DLL missing one level down is named before one missing two levels down",
                t -> {
                    Tree.converter().imports("libqelagtcore.dll", "qelcore_init").write(t.file("prod/JQelAgtbase.dll"));
                    Files.delete(t.file("prod/libqelagtapi.dll").toPath());
                },
                Fault.MISSING, "Verdict: the agent's library libqelagtapi.dll was not found"),
            row("a diamond: the core DLL both product DLLs import lacks what the second one takes",
                t -> {
                    Tree.converter().imports("libqelagtcore.dll", "qelcore_init").write(t.file("prod/JQelAgtbase.dll"));
                    Tree.agent().imports("libqelagtcore.dll", "qelcore_other").write(t.file("prod/libqelagtapi.dll"));
                    Binaries.Dll core = new Binaries.Dll();
                    core.exports.put(1, "qelcore_init");
                    core.write(t.file("prod/libqelagtcore.dll"));
                },
                Fault.LACKS, "libqelagtcore.dll lacks qelcore_other, which libqelagtapi.dll imports from it",
                "  libqelagtcore.dll: as above; lacks qelcore_other"),
            row("ordinal 40 forwarded to a DLL that is absent",
                t -> forwarding("libqelagtfwd.qelagt_cma_names_impl").write(t.file("prod/libqelagtapi.dll")),
                Fault.MISSING, "libqelagtfwd.dll is in none of the folders Windows looks in",
                "libqelagtapi.dll forwards ordinal 40 to it"),
            row("ordinal 40 forwarded to a DLL that lacks the function",
                t -> {
                    forwarding("libqelagtfwd.qelagt_cma_names_impl").write(t.file("prod/libqelagtapi.dll"));
                    Binaries.Dll other = new Binaries.Dll();
                    other.exports.put(1, "qelagt_other");
                    other.write(t.file("prod/libqelagtfwd.dll"));
                },
                Fault.LACKS, "lacks ordinal 40 (forwarded to libqelagtfwd.qelagt_cma_names_impl)"),
            row("ordinal 40 forwarded to an API set, which needs no file",
                t -> forwarding("api-ms-win-core-synch-l1-2-0.InitOnceExecuteOnce").write(t.file("prod/libqelagtapi.dll")),
                null),
            row("ordinal 40 forwarded to another DLL's ordinal 7, which it exports",
                t -> {
                    forwarding("libqelagtfwd.#7").write(t.file("prod/libqelagtapi.dll"));
                    new Binaries.Dll().exports(7).write(t.file("prod/libqelagtfwd.dll"));
                },
                null),
            row("a forwarder to a forwarder, followed to the function",
                t -> {
                    forwarding("libqelagtfwd.qelagt_cma_names_impl").write(t.file("prod/libqelagtapi.dll"));
                    Binaries.Dll middle = new Binaries.Dll();
                    middle.exports.put(1, "qelagt_cma_names_impl");
                    middle.forwards.put(1, "libqelagtend.qelagt_end");
                    middle.write(t.file("prod/libqelagtfwd.dll"));
                    Binaries.Dll end = new Binaries.Dll();
                    end.exports.put(1, "qelagt_end");
                    end.write(t.file("prod/libqelagtend.dll"));
                },
                null)
        );
    }

    /** An agent DLL that forwards ordinal 40 to {@code forward}. */
    static Binaries.Dll forwarding(String forward) {
        Binaries.Dll agent = new Binaries.Dll().exports(3, 4, 5, 37, 38, 39);
        agent.forwards.put(40, forward);
        return agent;
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rows")
    @Timeout(value = 60, unit = TimeUnit.SECONDS)
    void windows(String name, Tree.Change change, Fault kind, String[] words, @TempDir File root) throws Exception {
        Tree tree = name.startsWith("x64:") ? new Tree(root).windows64() : new Tree(root).windows();
        change.apply(tree);
        tree.expect(kind, words);
    }
}
