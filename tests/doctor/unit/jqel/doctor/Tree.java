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
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import org.junit.jupiter.params.provider.Arguments;

/**
 * The folder tree of one row of the doctor's tests, laid out as a deployer
 * would, and the facts of its JVM and system, from which the row's Host is
 * made; and how a row is run and judged ({@link #expect}).
 */
final class Tree {
    static final String SXS = "x86_microsoft.vc80.crt_1fc8b3b9a1e18e3b_8.0.50727.762_none_10b2f55f9bffb8f8";
    static final String POLICY = "x86_policy.8.0.microsoft.vc80.crt_1fc8b3b9a1e18e3b_8.0.50727.6195_none_ec1f3e8d5dcd6d4b";
    static final String CONVERT_FROM = "?convertStringFromUTF@@YAPADPBD@Z";
    static final String CONVERT_TO = "?convertStringToUTF@@YAPAV_jstring@@PADPAUJNIEnv_@@@Z";
    /** A real load that works, and one that fails as HotSpot on Windows words a missing dependency. */
    static final Doctor.Load LOADS = library -> null;
    static final Doctor.Load FAILS = library -> "java.lang.UnsatisfiedLinkError: " + library + ": Can't find dependent libraries";

    /** One change a row makes to the tree. */
    interface Change {
        void apply(Tree tree) throws Exception;
    }

    final File root;
    final Properties properties = new Properties();
    final Map<String, String> environment = new HashMap<>();
    /** Linux: the libraries the JVM's process holds. */
    final List<File> loaded = new ArrayList<>();
    /** How the library loads for real; null: it is not loaded. */
    Doctor.Load load;

    Tree(File root) {
        this.root = root;
    }

    File file(String path) {
        return new File(root, path);
    }

    /** A row: its name, its change to the tree, the kind of fault expected (null: none) and words the report holds. */
    static Arguments row(String name, Change change, Fault kind, String... words) {
        return Arguments.of(name, change, kind, words);
    }

    /** A manifest that names Microsoft.VC80.CRT of {@code version}, for x86. */
    static String manifest(String version) {
        return manifest("Microsoft.VC80.CRT", version, "x86", "1fc8b3b9a1e18e3b");
    }

    static String manifest(String name, String version, String architecture, String token) {
        return "<assembly xmlns='urn:schemas-microsoft-com:asm.v1' manifestVersion='1.0'><dependency><dependentAssembly>"
                + "<assemblyIdentity type='win32' name='" + name + "' version='" + version + "'"
                + " processorArchitecture='" + architecture + "' publicKeyToken='" + token + "'/>"
                + "</dependentAssembly></dependency></assembly>";
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
        user();
        for (String folder : new String[] {"win/SysWOW64", "win/System32", "win/System", "jre/bin", "prod"}) {
            file(folder).mkdirs();
        }
        ours().write(file("lib/JQelAgtMsg.dll"));
        agent().write(file("prod/libqelagtapi.dll"));
        converter().write(file("prod/JQelAgtbase.dll"));
        crt().write(file("win/WinSxS/" + SXS + "/msvcr80.dll"));
        return this;
    }

    /** The same for a 64-bit DLL, built as this project builds it for x64, in a 64-bit JVM: no side-by-side runtime. */
    Tree windows64() throws IOException {
        windows();
        properties.setProperty("jqel.doctor.arch", "amd64");
        Binaries.Dll ours = new Binaries.Dll().imports("libqelagtapi.dll", "ordinal 3", "ordinal 40")
                .imports("msvcrt.dll", "free");
        ours.machine = 0x8664;
        ours.write(file("lib/JQelAgtMsg.dll"));
        Binaries.Dll agent = agent();
        agent.machine = 0x8664;
        agent.write(file("prod/libqelagtapi.dll"));
        Binaries.Dll crt = new Binaries.Dll();
        crt.machine = 0x8664;
        crt.exports.put(1, "free");
        crt.write(file("win/System32/msvcrt.dll"));
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

    /** A publisher policy in WinSxS, as the runtime's update installs it, sending {@code from} to {@code to}. */
    void policy(String folder, String from, String to) throws IOException {
        File policy = file("win/WinSxS/" + folder);
        policy.mkdirs();
        Files.write(new File(policy, to + ".policy").toPath(), ("<?xml version='1.0' encoding='UTF-8'?>"
                + "<assembly xmlns='urn:schemas-microsoft-com:asm.v1' manifestVersion='1.0'>"
                + "<assemblyIdentity type='win32-policy' name='policy.8.0.Microsoft.VC80.CRT' version='" + to + "'"
                + " processorArchitecture='x86' publicKeyToken='1fc8b3b9a1e18e3b'/><dependency><dependentAssembly>"
                + "<assemblyIdentity type='win32' name='Microsoft.VC80.CRT' processorArchitecture='x86'"
                + " publicKeyToken='1fc8b3b9a1e18e3b'/><bindingRedirect oldVersion='" + from + "' newVersion='" + to + "'/>"
                + "</dependentAssembly></dependency></assembly>").getBytes(StandardCharsets.UTF_8));
    }

    /** Moves the runtime's WinSxS folder to the one of another version. */
    void runtimeAt(String version) throws IOException {
        Files.move(file("win/WinSxS/" + SXS).toPath(), file("win/WinSxS/" + SXS.replace("762", version)).toPath());
    }

    /** A 64-bit Linux JVM whose java.library.path is lib/, and whose program is not known. */
    Tree linux() {
        properties.setProperty("os.name", "Linux");
        properties.setProperty("os.arch", "amd64");
        properties.setProperty("sun.arch.data.model", "64");
        properties.setProperty("jqel.doctor.bootpath", file("jvm/lib").getPath());
        properties.setProperty("jqel.doctor.command", "");
        properties.setProperty("java.library.path", file("lib").getPath());
        properties.setProperty("java.version", "17.0.13");
        user();
        return this;
    }

    /** The user that runs the tests, in the tree: its current folder, and its temporary folder tmp/. */
    private void user() {
        properties.setProperty("user.dir", root.getPath());
        properties.setProperty("user.name", System.getProperty("user.name"));
        properties.setProperty("java.io.tmpdir", file("tmp").getPath());
    }

    /**
     * The row's Host. On Windows, its files seen with Windows' semantics
     * (FileView.windows); on Linux, the libraries its process holds are the
     * row's, not this JVM's.
     */
    Host host() {
        Host host = new Host(properties, environment);
        if (host.windows) {
            host.files = FileView.windows(host.windowsFolder, host.bits);
        } else {
            host.loaded = loaded;
        }
        host.ldSoConf = file("ld.so.conf");
        return host;
    }

    /**
     * Runs the doctor on the tree: the fault's kind must be {@code kind}, the
     * report must hold each of the words ("%ROOT%" standing for the tree's
     * folder), but for those marked "!", which it must not hold, and the
     * exit status be 0 exactly when the library loaded for real or nothing
     * is wrong.
     */
    void expect(Fault kind, String[] words) {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        Doctor.Outcome outcome = Doctor.run(host(), new PrintStream(bytes, true), load);
        String report = new String(bytes.toByteArray(), StandardCharsets.UTF_8);
        assertEquals(kind, outcome.finding == null ? null : outcome.finding.kind, report);
        for (String word : words) {
            boolean absent = word.startsWith("!");
            String text = word.substring(absent ? 1 : 0).replace("%ROOT%", root.getPath());
            assertTrue(report.contains(text) != absent, (absent ? "\"" : "no \"") + text + "\" in:\n" + report);
        }
        assertEquals(kind == null || load == LOADS ? 0 : 1, outcome.status(), report);
    }

    static void deleteTree(File file) {
        File[] children = file.listFiles();
        for (int i = 0; children != null && i < children.length; i++) {
            deleteTree(children[i]);
        }
        file.delete();
    }
}
