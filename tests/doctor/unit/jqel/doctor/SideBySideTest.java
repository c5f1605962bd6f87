package jqel.doctor;

import static jqel.doctor.Tree.POLICY;
import static jqel.doctor.Tree.SXS;
import static jqel.doctor.Tree.manifest;
import static jqel.doctor.Tree.row;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.stream.Stream;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Side-by-side assemblies as Windows resolves them for a DLL's imports: the
 * manifest Windows reads (resource 2, as XML), publisher policies, WinSxS
 * and private assemblies, identities compared as Windows compares them, and
 * the C runtime's DLLs, which load only through a manifest. Each row
 * changes the 32-bit tree of Tree.windows.
 */
class SideBySideTest {
    static final String VC80 = "the side-by-side assembly Microsoft.VC80.CRT, x86, public key token 1fc8b3b9a1e18e3b, version";

    static Stream<Arguments> rows() {
        return Stream.of(
            row("the agent DLL's own manifest names a runtime that WinSxS lacks",
                t -> {
                    Binaries.Dll agent = Tree.agent().imports("MSVCR80.dll", "free");
                    agent.manifest = manifest("8.0.50727.4053");
                    agent.write(t.file("prod/libqelagtapi.dll"));
                },
                Fault.ASSEMBLY, VC80 + " 8.0.50727.4053 that the manifest of libqelagtapi.dll names is not in",
                "install the Microsoft Visual C++ 2005 SP1 Redistributable Package (x86), 8.0.50727.4053 or later"),
            row("a private assembly beside the DLL stands in for WinSxS",
                t -> {
                    privateAssembly(t, "8.0.50727.762");
                    Files.delete(t.file("prod/libqelagtapi.dll").toPath());
                },
                Fault.MISSING, "version 8.0.50727.762: %ROOT%/lib/Microsoft.VC80.CRT (a private assembly)",
                "Verdict: the agent's library libqelagtapi.dll was not found: put the folder"),
            row("a private assembly of another version does not count",
                t -> privateAssembly(t, "8.0.50727.4053"),
                Fault.ASSEMBLY, VC80 + " 8.0.50727.762 that the manifest of JQelAgtMsg.dll names is not in"),
            row("a publisher policy sends 762 to the 6195 that is there",
                t -> {
                    t.runtimeAt("6195");
                    t.policy(POLICY, "8.0.50727.42-8.0.50727.6195", "8.0.50727.6195");
                },
                null, "version 8.0.50727.762: sent to version 8.0.50727.6195 by the publisher policy %ROOT%/win/WinSxS/"
                    + POLICY + ", %ROOT%/win/WinSxS/" + SXS.replace("762", "6195")),
            row("the policy comes first: 762 is there, the 6195 it sends to is not",
                t -> t.policy(POLICY, "8.0.50727.42-8.0.50727.6195", "8.0.50727.6195"),
                Fault.ASSEMBLY, "names is sent to version 8.0.50727.6195 by the publisher policy %ROOT%/win/WinSxS/"
                    + POLICY + ", and that version is not in %ROOT%/win/WinSxS nor beside it; version 8.0.50727.762 is there,"
                    + " at %ROOT%/win/WinSxS/" + SXS + ", but Windows takes the policy's",
                "Verdict: a component that the library JQelAgtMsg.dll needs is not installed: Microsoft.VC80.CRT version"
                    + " 8.0.50727.6195, which an update of it asks for in place of 8.0.50727.762: install the Microsoft"
                    + " Visual C++ 2005 SP1 Redistributable Package (x86), 8.0.50727.6195 or later"),
            row("a policy whose range leaves the version out does not apply",
                t -> t.policy(POLICY, "8.0.50727.42-8.0.50727.500", "8.0.50727.6195"),
                null, "version 8.0.50727.762: %ROOT%/win/WinSxS/" + SXS),
            row("of two policies, the one of the highest version applies",
                t -> {
                    t.runtimeAt("6195");
                    t.policy(POLICY, "8.0.50727.42-8.0.50727.6195", "8.0.50727.6195");
                    t.policy(POLICY.replace("6195", "4053"), "8.0.50727.42-8.0.50727.4053", "8.0.50727.4053");
                },
                null, "sent to version 8.0.50727.6195 by the publisher policy %ROOT%/win/WinSxS/" + POLICY),
            row("a policy for another processor does not apply",
                t -> t.policy(POLICY.replace("x86_", "amd64_"), "8.0.50727.42-8.0.50727.6195", "8.0.50727.6195"),
                null, "version 8.0.50727.762: %ROOT%/win/WinSxS/" + SXS),
            row("a later version without a policy does not serve",
                t -> t.runtimeAt("6195"),
                Fault.ASSEMBLY, VC80 + " 8.0.50727.762 that the manifest of JQelAgtMsg.dll names is not in"),
            row("a policy for another major.minor does not apply",
                t -> {
                    t.runtimeAt("6195");
                    t.policy(POLICY.replace("policy.8.0", "policy.8.1"), "8.0.50727.42-8.0.50727.6195", "8.0.50727.6195");
                },
                Fault.ASSEMBLY, VC80 + " 8.0.50727.762 that the manifest of JQelAgtMsg.dll names is not in"),
            row("only an assembly for another processor",
                t -> Files.move(t.file("win/WinSxS/" + SXS).toPath(),
                        t.file("win/WinSxS/" + SXS.replace("x86_", "amd64_")).toPath()),
                Fault.ASSEMBLY, "nor beside it; only one for another processor is there, at %ROOT%/win/WinSxS/amd64_"),
            row("processorArchitecture '*' is the process's, and names, tokens and architectures compare without case",
                t -> {
                    Binaries.Dll ours = Tree.ours();
                    ours.manifest = manifest("microsoft.vc80.crt", "8.0.50727.762", "*", "1FC8B3B9A1E18E3B");
                    ours.write(t.file("lib/JQelAgtMsg.dll"));
                    Binaries.Dll agent = Tree.agent().imports("MSVCR80.dll", "free");
                    agent.manifest = manifest("Microsoft.VC80.CRT", "8.0.50727.762", "X86", "1fc8b3b9a1e18e3b");
                    agent.write(t.file("prod/libqelagtapi.dll"));
                },
                null, "Manifest: side-by-side assembly microsoft.vc80.crt, *, public key token 1FC8B3B9A1E18E3B, version"
                    + " 8.0.50727.762: %ROOT%/win/WinSxS/" + SXS),
            row("a manifest in UTF-16 with its byte-order mark",
                t -> {
                    Binaries.Dll ours = Tree.ours();
                    ours.utf16 = true;
                    ours.write(t.file("lib/JQelAgtMsg.dll"));
                },
                null, "version 8.0.50727.762: %ROOT%/win/WinSxS/" + SXS),
            row("a manifest that is no well-formed XML: Windows refuses the DLL",
                t -> {
                    Binaries.Dll ours = Tree.ours();
                    ours.manifest = manifest("8.0.50727.762").replace("</dependency>", "");
                    ours.write(t.file("lib/JQelAgtMsg.dll"));
                },
                Fault.MANIFEST, "Manifest: not well-formed XML, which Windows refuses: line 1, column",
                "the manifest of JQelAgtMsg.dll (its resource 2) is not well-formed XML (line 1, column", "with error 14001,"
                    + " \"The application has failed to start because its side-by-side configuration is incorrect\"",
                "Verdict: Windows refuses to load the library JQelAgtMsg.dll: the manifest inside it is not well-formed XML:"
                    + " copy it again from the release archive"),
            row("the library's manifest at resource 1, which Windows reads for a program, not for a DLL",
                t -> {
                    Binaries.Dll ours = Tree.ours();
                    ours.manifestId = 1;
                    ours.write(t.file("lib/JQelAgtMsg.dll"));
                },
                Fault.MANIFEST, "Manifest: only resource 1, which Windows does not read for a DLL's imports",
                "JQelAgtMsg.dll imports MSVCR80.dll, a DLL of the side-by-side assembly Microsoft.VC80.CRT, which Windows"
                    + " loads only through a manifest, but the manifest that names Microsoft.VC80.CRT is its resource 1, which"
                    + " Windows reads for a program, not for a DLL; so Windows looks for MSVCR80.dll in the folders, and finds"
                    + " none",
                "Verdict: the library JQelAgtMsg.dll cannot use the Visual C++ runtime's MSVCR80.dll, which Windows loads only"
                    + " through a manifest that JQelAgtMsg.dll does not carry where Windows reads it: copy it again from the"
                    + " release archive"),
            row("the agent DLL's manifest at resource 3, and the runtime's DLL on PATH, where it refuses to start",
                t -> {
                    withoutRuntime(t);
                    Binaries.Dll agent = Tree.agent().imports("MSVCR80.dll", "free");
                    agent.manifest = manifest("8.0.50727.762");
                    agent.manifestId = 3;
                    agent.write(t.file("prod/libqelagtapi.dll"));
                    Tree.crt().write(t.file("prod/msvcr80.dll"));
                },
                Fault.MANIFEST, "is its resource 3, which Windows reads for a DLL's isolation-aware calls, not for its"
                    + " imports; so Windows looks for MSVCR80.dll in the folders, and takes %ROOT%/prod/msvcr80.dll, from where"
                    + " it refuses to start: runtime error R6034", "move the manifest of libqelagtapi.dll to resource 2:"
                    + " mt.exe -inputresource:libqelagtapi.dll;#3 -out:libqelagtapi.dll.manifest, then mt.exe -manifest"
                    + " libqelagtapi.dll.manifest -outputresource:libqelagtapi.dll;#2"),
            row("an agent DLL without a manifest that imports the runtime: no remedy puts the runtime on PATH",
                t -> {
                    withoutRuntime(t);
                    Tree.agent().imports("MSVCR80.dll", "free").write(t.file("prod/libqelagtapi.dll"));
                },
                Fault.MANIFEST, "but no manifest of it at resource 2 names Microsoft.VC80.CRT; so Windows looks for"
                    + " MSVCR80.dll in the folders, and finds none (JQelAgtMsg.dll -> libqelagtapi.dll -> MSVCR80.dll)",
                "Verdict: the agent's library libqelagtapi.dll cannot use the Visual C++ runtime's MSVCR80.dll, which"
                    + " Windows loads only through a manifest that libqelagtapi.dll does not carry where Windows reads it:"
                    + " take a build of libqelagtapi.dll that carries, as its resource 2, a manifest naming"
                    + " Microsoft.VC80.CRT"),
            row("a Debug build of the agent DLL",
                t -> {
                    Binaries.Dll agent = Tree.agent().imports("MSVCR80D.dll", "free");
                    agent.manifest = manifest("Microsoft.VC80.DebugCRT", "8.0.50727.762", "x86", "1fc8b3b9a1e18e3b");
                    agent.write(t.file("prod/libqelagtapi.dll"));
                },
                Fault.DEBUG_BUILD, "libqelagtapi.dll is a Debug build: its manifest names Microsoft.VC80.DebugCRT",
                "use the Release build of libqelagtapi.dll: no redistributable package installs a debug runtime"),
            row("the assembly comes before a module of the name the process holds",
                t -> {
                    Binaries.Dll agent = Tree.agent().imports("msvcr100.dll", "free");
                    agent.manifest = manifest("8.0.50727.762");
                    agent.write(t.file("prod/libqelagtapi.dll"));
                    Tree.crt().write(t.file("win/WinSxS/" + SXS + "/msvcr100.dll"));
                    new Binaries.Dll().exports(1).write(t.file("jre/bin/msvcr100.dll"));
                },
                null, "msvcr100.dll: %ROOT%/win/WinSxS/" + SXS + "/msvcr100.dll, PE i386 (32-bit), a side-by-side assembly"),
            row("the assembly comes before the folders: a runtime DLL in the program's folder is not taken",
                t -> new Binaries.Dll().exports(1).write(t.file("jre/bin/msvcr80.dll")),
                null, "MSVCR80.dll: %ROOT%/win/WinSxS/" + SXS + "/msvcr80.dll, PE i386 (32-bit), a side-by-side assembly")
        );
    }

    /** A private assembly of Microsoft.VC80.CRT of {@code version} beside the library, in place of WinSxS's. */
    static void privateAssembly(Tree tree, String version) throws IOException {
        Tree.deleteTree(tree.file("win/WinSxS"));
        Files.createDirectories(tree.file("lib/Microsoft.VC80.CRT").toPath());
        Files.write(tree.file("lib/Microsoft.VC80.CRT/Microsoft.VC80.CRT.manifest").toPath(), ("<assembly"
                + " xmlns='urn:schemas-microsoft-com:asm.v1' manifestVersion='1.0'><assemblyIdentity type='win32'"
                + " name='Microsoft.VC80.CRT' version='" + version + "' processorArchitecture='x86'"
                + " publicKeyToken='1fc8b3b9a1e18e3b'/><file name='msvcr80.dll'/></assembly>").getBytes(StandardCharsets.UTF_8));
        Tree.crt().write(tree.file("lib/Microsoft.VC80.CRT/msvcr80.dll"));
    }

    /** The library as a build without the C runtime would make it, so that only the agent DLL imports it. */
    static void withoutRuntime(Tree tree) throws IOException {
        Binaries.Dll ours = new Binaries.Dll().imports("JQelAgtbase.dll", Tree.CONVERT_FROM, Tree.CONVERT_TO)
                .imports("libqelagtapi.dll", "ordinal 3");
        ours.write(tree.file("lib/JQelAgtMsg.dll"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rows")
    void windows(String name, Tree.Change change, Fault kind, String[] words, @TempDir File root) throws Exception {
        Tree tree = new Tree(root).windows();
        change.apply(tree);
        tree.expect(kind, words);
    }
}
