package jqel.doctor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import org.junit.jupiter.api.Timeout;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The doctor in-process: each row lays out a folder tree as a deployer
 * would, with the facts of the JVM and the system as a Host, and expects the
 * first fault's kind and words of its verdict (null: no fault) and lines of
 * the report. The library is never loaded.
 */
class DoctorTest {
    static final String SXS = "x86_microsoft.vc80.crt_1fc8b3b9a1e18e3b_8.0.50727.762_none_10b2f55f9bffb8f8";
    static final String CONVERT_FROM = "?convertStringFromUTF@@YAPADPBD@Z";
    static final String CONVERT_TO = "?convertStringToUTF@@YAPAV_jstring@@PADPAUJNIEnv_@@@Z";

    static String manifest(String version) {
        return "<assembly xmlns='urn:schemas-microsoft-com:asm.v1' manifestVersion='1.0'><dependency><dependentAssembly>"
                + "<assemblyIdentity type='win32' name='Microsoft.VC80.CRT' version='" + version + "'"
                + " processorArchitecture='x86' publicKeyToken='1fc8b3b9a1e18e3b'/></dependentAssembly></dependency></assembly>";
    }

    /** The folder tree of one row and the facts of its JVM. */
    static final class Tree {
        final File root;
        final Properties properties = new Properties();
        final Map<String, String> environment = new HashMap<>();
        final List<File> loaded = new ArrayList<>();

        Tree(File root) {
            this.root = root;
        }

        File file(String path) {
            return new File(root, path);
        }

        /** The 32-bit DLL with all it needs, as the guide deploys it, in a 32-bit Java 17 on 64-bit Windows. */
        Tree windows() throws IOException {
            properties.setProperty("jqel.doctor.os", "Windows 10");
            properties.setProperty("jqel.doctor.arch", "x86");
            properties.setProperty("jqel.doctor.windir", file("win").getPath());
            properties.setProperty("jqel.doctor.command", file("jre/bin/java.exe").getPath());
            properties.setProperty("jqel.doctor.bootpath", file("jre/bin").getPath());
            properties.setProperty("jqel.doctor.path", file("prod").getPath());
            properties.setProperty("java.library.path", file("lib").getPath());
            properties.setProperty("java.version", "17.0.13");
            properties.setProperty("user.dir", root.getPath());
            for (String folder : new String[] {"win/SysWOW64", "win/System32", "win/System", "jre/bin", "prod"}) {
                file(folder).mkdirs();
            }
            ours().write(file("lib/JQelAgtMsg.dll"));
            agent().write(file("prod/libqelagtapi.dll"));
            converter().write(file("prod/JQelAgtbase.dll"));
            crt().write(file("win/WinSxS/" + SXS + "/msvcr80.dll"));
            return this;
        }

        static Binaries.Dll ours() {
            Binaries.Dll dll = new Binaries.Dll()
                    .imports("JQelAgtbase.dll", CONVERT_FROM, CONVERT_TO)
                    .imports("libqelagtapi.dll", "ordinal 3", "ordinal 4", "ordinal 5", "ordinal 37", "ordinal 38",
                            "ordinal 39", "ordinal 40")
                    .imports("MSVCR80.dll", "free", "malloc", "strlen");
            dll.manifest = manifest("8.0.50727.762");
            dll.fileVersion = "1.0.0.0";
            return dll;
        }

        static Binaries.Dll agent() {
            return new Binaries.Dll().exports(3, 4, 5, 37, 38, 39, 40);
        }

        static Binaries.Dll converter() {
            Binaries.Dll dll = new Binaries.Dll();
            dll.exports.put(1, CONVERT_FROM);
            dll.exports.put(2, CONVERT_TO);
            return dll;
        }

        static Binaries.Dll crt() {
            Binaries.Dll dll = new Binaries.Dll();
            dll.exports.put(1, "free");
            dll.exports.put(2, "malloc");
            dll.exports.put(3, "strlen");
            return dll;
        }

        /** A 64-bit Linux JVM whose java.library.path is lib/. */
        Tree linux() {
            properties.setProperty("os.name", "Linux");
            properties.setProperty("os.arch", "amd64");
            properties.setProperty("sun.arch.data.model", "64");
            properties.setProperty("java.library.path", file("lib").getPath());
            properties.setProperty("java.version", "17.0.13");
            properties.setProperty("user.dir", root.getPath());
            return this;
        }

        Host host() {
            Host host = new Host(properties, environment);
            host.loaded = loaded;
            host.ldSoConf = file("ld.so.conf");
            return host;
        }
    }

    interface Change {
        void apply(Tree tree) throws Exception;
    }

    static Arguments row(String name, Change change, Fault kind, String... words) {
        return Arguments.of(name, change, kind, words);
    }

    static Stream<Arguments> rows() {
        return Stream.of(
            row("all in place, and the DLL's version reported", t -> { }, null,
                "Version: FileVersion 1.0.0.0, BuildDate 2026-12-09", "Doctor: jqel-doctor " + Version.VERSION),
            row("a stale agent DLL in SysWOW64 comes before PATH",
                t -> new Binaries.Dll().exports(3, 4, 5, 37, 38, 39).write(t.file("win/SysWOW64/libqelagtapi.dll")),
                Fault.LACKS, "SysWOW64/libqelagtapi.dll lacks ordinal 40", "remove ", "SysWOW64/libqelagtapi.dll: Windows takes it"),
            row("the agent DLL's own manifest names a runtime that WinSxS lacks",
                t -> {
                    Binaries.Dll agent = Tree.agent().imports("MSVCR80.dll", "free");
                    agent.manifest = manifest("8.0.50727.4053");
                    agent.write(t.file("prod/libqelagtapi.dll"));
                },
                Fault.ASSEMBLY, "version 8.0.50727.4053 that the manifest of libqelagtapi.dll names is not in",
                "install the Microsoft Visual C++ 2005 SP1 Redistributable Package (x86), 8.0.50727.4053 or later"),
            row("a private assembly stands in for WinSxS; the agent DLL is what is missing",
                t -> {
                    deleteTree(t.file("win/WinSxS"));
                    Files.createDirectories(t.file("lib/Microsoft.VC80.CRT").toPath());
                    Files.write(t.file("lib/Microsoft.VC80.CRT/Microsoft.VC80.CRT.manifest").toPath(), ("<assembly"
                            + " xmlns='urn:schemas-microsoft-com:asm.v1' manifestVersion='1.0'><assemblyIdentity type='win32'"
                            + " name='Microsoft.VC80.CRT' version='8.0.50727.762' processorArchitecture='x86'"
                            + " publicKeyToken='1fc8b3b9a1e18e3b'/><file name='msvcr80.dll'/></assembly>")
                            .getBytes(StandardCharsets.UTF_8));
                    Tree.crt().write(t.file("lib/Microsoft.VC80.CRT/msvcr80.dll"));
                    Files.delete(t.file("prod/libqelagtapi.dll").toPath());
                },
                Fault.MISSING, "libqelagtapi.dll is in none of the folders Windows looks in: put the folder"),
            row("a module the JVM holds (jvm.dll) is taken; the missing core DLL is named",
                t -> {
                    Tree.converter().imports("jvm.dll", "JNI_GetCreatedJavaVMs").write(t.file("prod/JQelAgtbase.dll"));
                    Tree.agent().imports("libqelagtcore.dll", "qelcore_init").write(t.file("prod/libqelagtapi.dll"));
                    Binaries.Dll jvm = new Binaries.Dll();
                    jvm.exports.put(1, "JNI_GetCreatedJavaVMs");
                    t.loaded.add(jvm.write(t.file("jre/bin/server/jvm.dll")));
                },
                Fault.MISSING, "libqelagtcore.dll is in none of the folders Windows looks in"
                    + " (JQelAgtMsg.dll -> libqelagtapi.dll -> libqelagtcore.dll)"),
            row("ordinal 40 forwarded to a DLL that is absent",
                t -> forwarded(t).write(t.file("prod/libqelagtapi.dll")),
                Fault.MISSING, "libqelagtfwd.dll is in none of the folders Windows looks in",
                "libqelagtapi.dll forwards ordinal 40 to it"),
            row("ordinal 40 forwarded to a DLL that lacks the function",
                t -> {
                    forwarded(t).write(t.file("prod/libqelagtapi.dll"));
                    Binaries.Dll other = new Binaries.Dll();
                    other.exports.put(1, "qelagt_other");
                    other.write(t.file("prod/libqelagtfwd.dll"));
                },
                Fault.LACKS, "lacks ordinal 40 (forwarded to libqelagtfwd.qelagt_cma_names_impl)"),
            row("a 64-bit copy in the JVM's own folder comes first",
                t -> {
                    Binaries.Dll wide = Tree.ours();
                    wide.machine = 0x8664;
                    wide.write(t.file("jre/bin/JQelAgtMsg.dll"));
                },
                Fault.IN_JVM_FOLDER, "jre/bin/JQelAgtMsg.dll, in the JVM's own folder", "remove it from the JVM's folder"),
            row("a corrupt copy in the JVM's own folder comes first",
                t -> Files.write(t.file("jre/bin/JQelAgtMsg.dll").toPath(), new byte[] {'M', 'Z', 1}),
                Fault.IN_JVM_FOLDER, "remove it from the JVM's folder"),
            row("a stale but valid copy in the JVM's own folder comes first",
                t -> {
                    Binaries.Dll old = Tree.ours();
                    old.fileVersion = "0.9.0.0";
                    old.write(t.file("jre/bin/JQelAgtMsg.dll"));
                },
                Fault.IN_JVM_FOLDER, "comes before", "remove ", "Version: FileVersion 0.9.0.0, BuildDate 2026-12-09"),
            row("java.library.path in quotes, Java 17 strips them",
                t -> t.properties.setProperty("java.library.path", "\"" + t.file("lib") + "\""), null),
            row("java.library.path in quotes, Java 8 keeps them",
                t -> {
                    t.properties.setProperty("java.library.path", "\"" + t.file("lib") + "\"");
                    t.properties.setProperty("java.version", "1.8.0_504");
                },
                Fault.QUOTED, "is in quotes, which Java 8 keeps", "remove the quotes"),
            row("a PATH entry in quotes",
                t -> t.properties.setProperty("jqel.doctor.path", "\"" + t.file("prod") + "\""),
                Fault.QUOTED, "the PATH entry \"", "remove the quotes from that entry of PATH"),
            row("an unexpanded variable in PATH",
                t -> t.properties.setProperty("jqel.doctor.path", "%QEL_HOME%\\bin"),
                Fault.MISSING, "PATH holds %QEL_HOME%\\bin, which names a variable Windows did not expand"),
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
                Fault.PROGRAM_ASSUMED, "libqelagtapi.dll is only in", "put its folder on PATH"),
            row("jqel.library names a 64-bit DLL in a 32-bit JVM",
                t -> {
                    Binaries.Dll wide = Tree.ours();
                    wide.machine = 0x8664;
                    t.properties.setProperty("jqel.library", wide.write(t.file("x64/JQelAgtMsg.dll")).getPath());
                },
                Fault.LIBRARY_64, "name the 32-bit JQelAgtMsg.dll in -Djqel.library"),
            row("jqel.library names a folder",
                t -> t.properties.setProperty("jqel.library", t.file("lib").getPath()),
                Fault.PROPERTY, "which is a folder, not the library: give the library file's full path"),
            row("the program's folder comes before the system folder and PATH",
                t -> new Binaries.Dll().exports(3).write(t.file("jre/bin/libqelagtapi.dll")),
                Fault.LACKS, "jre/bin/libqelagtapi.dll lacks ordinal 4"),
            row("the current folder comes before PATH",
                t -> new Binaries.Dll().exports(3).write(t.file("libqelagtapi.dll")),
                Fault.LACKS, "start the program in another folder"),
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
            row("a later runtime with its publisher policy serves the manifest",
                t -> {
                    File later = t.file("win/WinSxS/" + SXS.replace("762", "6195"));
                    Files.move(t.file("win/WinSxS/" + SXS).toPath(), later.toPath());
                    t.file("win/WinSxS/x86_policy.8.0.microsoft.vc80.crt_1fc8b3b9a1e18e3b_8.0.50727.6195_none_0").mkdirs();
                },
                null, "version 8.0.50727.762: %ROOT%/win/WinSxS/" + SXS.replace("762", "6195")),
            row("not in java.library.path",
                t -> t.properties.setProperty("java.library.path", t.file("prod").getPath()),
                Fault.NOT_ON_PATH, "JQelAgtMsg.dll is in no folder of java.library.path"),
            row("only a 64-bit agent DLL",
                t -> {
                    Binaries.Dll wide = Tree.agent();
                    wide.machine = 0x8664;
                    wide.write(t.file("prod/libqelagtapi.dll"));
                },
                Fault.OTHER_BITNESS, "only a 64-bit libqelagtapi.dll is there"),
            row("PATH without the product's folder",
                t -> t.properties.setProperty("jqel.doctor.path", t.file("none").getPath()),
                Fault.MISSING, "JQelAgtbase.dll is in none of the folders"),
            row("the agent's DLLs beside the library only",
                t -> {
                    Files.move(t.file("prod/JQelAgtbase.dll").toPath(), t.file("lib/JQelAgtbase.dll").toPath());
                },
                Fault.BESIDE, "JQelAgtbase.dll is beside JQelAgtMsg.dll in", "on PATH"),
            row("the first agent DLL Windows finds is no DLL",
                t -> Files.write(t.file("prod/libqelagtapi.dll").toPath(), "text".getBytes(StandardCharsets.US_ASCII)),
                Fault.BAD_DEPENDENCY, "the first libqelagtapi.dll that Windows finds, is not a library"),
            row("the library truncated",
                t -> Files.write(t.file("lib/JQelAgtMsg.dll").toPath(), new byte[] {'M', 'Z'}),
                Fault.BAD_LIBRARY, "copy it again from the release archive"),
            row("a 32-bit DLL in a 64-bit JVM",
                t -> t.properties.setProperty("jqel.doctor.arch", "amd64"),
                Fault.LIBRARY_32, "run the program with a 32-bit JVM"),
            row("a Linux library where Windows runs",
                t -> Binaries.elf(t.file("lib/JQelAgtMsg.dll"), Collections.<String>emptyList(), null, null, ""),
                Fault.WRONG_SYSTEM, "use JQelAgtMsg.dll, the library built for Windows"),
            row("jqel.doctor.program names no file",
                t -> t.properties.setProperty("jqel.doctor.program", t.file("svc/service.exe").getPath()),
                Fault.PROGRAM, "give the full path of the program's .exe"),
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
                Fault.MISSING, "hostile.dll is in none of the folders Windows looks in")
        );
    }

    static Binaries.Dll forwarded(Tree tree) {
        Binaries.Dll agent = new Binaries.Dll().exports(3, 4, 5, 37, 38, 39);
        agent.forwards.put(40, "libqelagtfwd.qelagt_cma_names_impl");
        return agent;
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rows")
    @Timeout(value = 60, unit = TimeUnit.SECONDS)
    void windows(String name, Change change, Fault kind, String[] words, @TempDir File root) throws Exception {
        Tree tree = new Tree(root).windows();
        change.apply(tree);
        expect(tree, kind, words);
    }

    static Stream<Arguments> linuxRows() {
        return Stream.of(
            row("DT_RPATH of the library that loads it, where the needing one has none",
                t -> {
                    Binaries.elf(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), "$ORIGIN/deps", null,
                            "@(#)JQelAgtMsg 1.2.3\0");
                    Binaries.elf(t.file("lib/deps/libjqeltesta.so"), Arrays.asList("libjqeltestb.so"), null, null, "");
                    Binaries.elf(t.file("lib/deps/libjqeltestb.so"), Collections.<String>emptyList(), null, null, "");
                },
                null, "Version: 1.2.3", "libjqeltestb.so: " + "%ROOT%/lib/deps/libjqeltestb.so"),
            row("DT_RUNPATH of the needing library turns DT_RPATH off",
                t -> {
                    Binaries.elf(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), "$ORIGIN/deps", null, "");
                    Binaries.elf(t.file("lib/deps/libjqeltesta.so"), Arrays.asList("libjqeltestb.so"), null, "/nowhere", "");
                    Binaries.elf(t.file("lib/deps/libjqeltestb.so"), Collections.<String>emptyList(), null, null, "");
                },
                Fault.MISSING, "libjqeltestb.so is in none of the folders Linux looks in"),
            row("$LIB and $PLATFORM expanded",
                t -> {
                    Binaries.elf(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null,
                            "$ORIGIN/${PLATFORM}:$ORIGIN/$LIB", "");
                    Binaries.elf(t.file("lib/x86_64/libjqeltesta.so"), Collections.<String>emptyList(), null, null, "");
                },
                null, "libjqeltesta.so: %ROOT%/lib/x86_64/libjqeltesta.so"),
            row("the folders of ld.so.conf, stated as the cache's",
                t -> {
                    Files.write(t.file("ld.so.conf").toPath(), (t.file("conf") + "\n").getBytes(StandardCharsets.UTF_8));
                    Binaries.elf(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null, null, "");
                    Binaries.elf(t.file("conf/libjqeltesta.so"), Collections.<String>emptyList(), null, null, "");
                },
                null, "  ld.so.cache, as the folders of /etc/ld.so.conf it is built from: %ROOT%/conf")
        );
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("linuxRows")
    void linux(String name, Change change, Fault kind, String[] words, @TempDir File root) throws Exception {
        Tree tree = new Tree(root).linux();
        change.apply(tree);
        expect(tree, kind, words);
    }

    /** Runs the doctor; the fault's kind must be {@code kind} and the report must hold each of the words. */
    static void expect(Tree tree, Fault kind, String[] words) {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        Fault.Finding finding = Doctor.run(tree.host(), new PrintStream(bytes, true), false);
        String report = new String(bytes.toByteArray(), StandardCharsets.UTF_8);
        assertEquals(kind, finding == null ? null : finding.kind, report);
        for (String word : words) {
            assertTrue(report.contains(word.replace("%ROOT%", tree.root.getPath())), "no \"" + word + "\" in:\n" + report);
        }
    }

    static void deleteTree(File file) {
        File[] children = file.listFiles();
        for (int i = 0; children != null && i < children.length; i++) {
            deleteTree(children[i]);
        }
        file.delete();
    }
}
