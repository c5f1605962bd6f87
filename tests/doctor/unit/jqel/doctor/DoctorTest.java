package jqel.doctor;

import static jqel.doctor.Tree.row;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The doctor in-process, as a user reads it: its arguments, Java's search
 * for the library itself, where copies of a library carried in a jar go,
 * the library file's own faults, and the verdict and exit status once the
 * real load has had its say. Each row changes the Windows tree of
 * Tree.windows (or, for a row whose name begins "linux:", the Linux tree of
 * Tree.linux with a library that needs nothing) and expects the first
 * fault's kind and words of the report.
 */
class DoctorTest {
    /** The folder that copies from a jar go into by default, in the tree's temporary folder. */
    static final String COPIES = "%ROOT%/tmp/jqel-" + System.getProperty("user.name");
    static final String JAR_LINE = "From a jar: when no folder holds the library, the copy that a jqel-native jar for";

    static Stream<Arguments> rows() {
        return Stream.of(
            row("linux: copies from a jar go to jqel-<user> in java.io.tmpdir, which the first copy makes",
                t -> { },
                null, JAR_LINE + " linux-x86_64 carries is loaded from below " + COPIES + ", in java.io.tmpdir"
                    + " (-Djqel.native.dir names another folder):\n  " + COPIES + ": not there yet; the first load from a jar"
                    + " makes it\nFile: ", "!So a program"),
            row("linux: the folder jqel.native.dir names, and each copy there with its version",
                t -> {
                    t.properties.setProperty("jqel.native.dir", t.file("native").getPath());
                    ElfFile.of(owned(t, "native/1.2.3-0123456789abcdef", "rwxr-xr-x", "libJQelAgtMsg.so"),
                            Collections.<String>emptyList(), null, null, "@(#)JQelAgtMsg 1.2.3\0");
                    ElfFile.of(owned(t, "native/unversioned-fedcba9876543210", "rwx------", "libJQelAgtMsg.so"),
                            Collections.<String>emptyList(), null, null, "");
                    owned(t, "native/other", "rwx------", "");
                    owned(t, "native", "rwx------", "");
                },
                null, "loaded from below %ROOT%/native, which -Djqel.native.dir names:\n"
                    + "  %ROOT%/native/1.2.3-0123456789abcdef/libJQelAgtMsg.so: version 1.2.3\n"
                    + "  %ROOT%/native/unversioned-fedcba9876543210/libJQelAgtMsg.so: no version recorded\nFile: "),
            row("linux: a copy's folder that others may write is refused",
                t -> {
                    Files.createFile(owned(t, "tmp/jqel-" + System.getProperty("user.name") + "/1.0.0-0123456789abcdef",
                            "rwxrwxrwx", "libJQelAgtMsg.so").toPath());
                    owned(t, "tmp/jqel-" + System.getProperty("user.name"), "rwx------", "");
                },
                null, "/1.0.0-0123456789abcdef/libJQelAgtMsg.so: no version recorded; refused: " + COPIES
                    + "/1.0.0-0123456789abcdef may be written by users other than its owner\n"),
            row("linux: no folder holds the library: a program with the jar would load its copy",
                t -> t.properties.setProperty("java.library.path", t.file("none").getPath()),
                Fault.NOT_ON_PATH, "  So a program with jqel-native-" + Version.VERSION + "-linux-x86_64.jar on its class path"
                    + " would load its copy from there\n", "give its full path in -Djqel.library, or put jqel-native-"
                    + Version.VERSION + "-linux-x86_64.jar on the program's class path (see"),
            row("linux: a folder that its group may write is refused, and the remedy names another",
                t -> {
                    t.properties.setProperty("java.library.path", t.file("none").getPath());
                    owned(t, "tmp/jqel-" + System.getProperty("user.name"), "rwxrwxr-x", "");
                },
                Fault.NOT_ON_PATH, "  refused: " + COPIES + " may be written by users other than its owner\n  So a program"
                    + " with jqel-native-" + Version.VERSION + "-linux-x86_64.jar on its class path would fail to load it: the"
                    + " folder is refused", "on the program's class path, naming a folder of this user's alone in"
                    + " -Djqel.native.dir (see"),
            row("linux: a folder that another user owns is refused",
                t -> {
                    File folder = owned(t, "native", "rwx------", "");
                    assumeTrue(System.getProperty("user.name").equals("root"), "only root gives a folder to another user");
                    Files.setOwner(folder.toPath(), folder.toPath().getFileSystem().getUserPrincipalLookupService()
                            .lookupPrincipalByName("nobody"));
                    t.properties.setProperty("jqel.native.dir", folder.getPath());
                },
                null, "  refused: %ROOT%/native belongs to nobody, another user\n"),
            row("linux: no jqel-native jar for this platform, and none in the remedy",
                t -> {
                    t.properties.setProperty("os.arch", "aarch64");
                    t.properties.setProperty("java.library.path", t.file("none").getPath());
                },
                Fault.NOT_ON_PATH, "From a jar: no jqel-native jar carries the library for this platform\nVerdict",
                "name its folder in -Djava.library.path, or give its full path in -Djqel.library (see"),
            row("the library in the current folder, which java.library.path does not name",
                t -> {
                    t.properties.setProperty("java.library.path", t.file("prod").getPath());
                    t.properties.setProperty("user.dir", t.file("lib").getPath());
                },
                Fault.NOT_ON_PATH, "The library does not load: JQelAgtMsg.dll is in the current folder, which is not on"
                    + " java.library.path.\nWhat to do: name %ROOT%/lib in -Djava.library.path, give"
                    + " -Djqel.library=%ROOT%/lib/JQelAgtMsg.dll, or put jqel-native-" + Version.VERSION + "-windows-x86.jar"
                    + " on the program's class path (see", "!Note:"),
            row("a copy in the current folder, where java.library.path finds another: a note",
                t -> Tree.ours().write(t.file("JQelAgtMsg.dll")),
                null, "Nothing the doctor checks is wrong; the library was not loaded.\nNote: JQelAgtMsg.dll is also in the"
                    + " current folder, which is not on java.library.path: %ROOT%/JQelAgtMsg.dll; Java takes"
                    + " %ROOT%/lib/JQelAgtMsg.dll.\n"),
            row("all in place, and the DLL's version reported", t -> { }, null,
                "Version: FileVersion 1.0.0.0, BuildDate 2026-12-09", "Doctor: jqel-doctor " + Version.VERSION,
                "Verdict: nothing the doctor checks is wrong; the library was not loaded."),
            row("the real load works where the model finds a fault: a warning, and exit status 0",
                t -> {
                    Files.delete(t.file("prod/libqelagtapi.dll").toPath());
                    t.load = Tree.LOADS;
                },
                Fault.MISSING, "The library loaded, but another process or a change to this machine may meet a fault: the"
                    + " agent's library libqelagtapi.dll was not found.\nWhat to do: put the folder that holds it on PATH (see"
                    + " \"A library it depends on is missing\" in DEPLOYMENT.md).\n\nThe details, in the loader's terms:\nJVM: ",
                "Load: loaded\nFault: libqelagtapi.dll is in none of the folders Windows looks in\nWarning: the library loaded,"
                    + " but the doctor's model of the loader finds a fault, which another process or a change to this machine"
                    + " may meet: the agent's library libqelagtapi.dll was not found: put the folder that holds it on PATH"
                    + " (see \"A library it depends on is missing\" in DEPLOYMENT.md).\nVerdict: the library loaded.\n"),
            row("the model finds nothing, but the real load fails: the JVM's error",
                t -> t.load = Tree.FAILS,
                Fault.LOAD_FAILED, "Load: java.lang.UnsatisfiedLinkError: %ROOT%/lib/JQelAgtMsg.dll: Can't find dependent"
                    + " libraries\nVerdict: nothing the doctor checks is wrong, but the JVM cannot load the library: look up"
                    + " the JVM's error, which the line \"Load:\" gives, in the guide (see \"When loading fails\""),
            row("the model's fault, where the real load fails too",
                t -> {
                    Files.delete(t.file("prod/libqelagtapi.dll").toPath());
                    t.load = Tree.FAILS;
                },
                Fault.MISSING, "The library does not load: the agent's library libqelagtapi.dll was not found.\n",
                "Verdict: the agent's library libqelagtapi.dll was not found"),
            row("a ';' inside a quoted entry of java.library.path does not split it in Java 17",
                t -> quotedSemicolon(t),
                null, "  %ROOT%/l;ib (written \"%ROOT%/l;ib\"): found"),
            row("Java 8 splits it there",
                t -> {
                    quotedSemicolon(t);
                    t.properties.setProperty("java.version", "1.8.0_504");
                },
                Fault.NOT_ON_PATH, "JQelAgtMsg.dll is in no folder of java.library.path"),
            row("an unclosed quote runs to the end of java.library.path",
                t -> t.properties.setProperty("java.library.path", t.file("none") + ";\"" + t.file("lib")),
                null, "  %ROOT%/lib (written \"%ROOT%/lib): found"),
            row("an empty entry of java.library.path is the current folder",
                t -> {
                    t.properties.setProperty("java.library.path", t.file("none") + ";");
                    t.properties.setProperty("user.dir", t.file("lib").getPath());
                },
                null, "  %ROOT%/lib (an empty entry): found", "!Note:"),
            row("Java 8 reads an empty last entry as the root folder",
                t -> {
                    t.properties.setProperty("java.library.path", t.file("none") + ";");
                    t.properties.setProperty("user.dir", t.file("lib").getPath());
                    t.properties.setProperty("java.version", "1.8.0_504");
                },
                Fault.NOT_ON_PATH, "  / (an empty entry): not there"),
            row("a second copy on java.library.path comes later and does no harm",
                t -> {
                    Tree.ours().write(t.file("lib2/JQelAgtMsg.dll"));
                    t.properties.setProperty("java.library.path", t.file("lib") + ";" + t.file("lib2"));
                },
                null, "  %ROOT%/lib2: found, but comes later"),
            row("java.library.path in quotes, Java 17 strips them",
                t -> t.properties.setProperty("java.library.path", "\"" + t.file("lib") + "\""), null),
            row("java.library.path in quotes, Java 8 keeps them",
                t -> {
                    t.properties.setProperty("java.library.path", "\"" + t.file("lib") + "\"");
                    t.properties.setProperty("java.version", "1.8.0_504");
                },
                Fault.QUOTED, "is in quotes, which Java 8 keeps as part of the folder's name: remove the quotes"),
            row("not in java.library.path",
                t -> t.properties.setProperty("java.library.path", t.file("prod").getPath()),
                Fault.NOT_ON_PATH, "JQelAgtMsg.dll is in no folder of java.library.path: put it in one, name its folder in"
                    + " -Djava.library.path, give its full path in -Djqel.library, or put jqel-native-" + Version.VERSION
                    + "-windows-x86.jar on the program's class path"),
            row("jqel.library not a full path",
                t -> t.properties.setProperty("jqel.library", "lib/JQelAgtMsg.dll"),
                Fault.PROPERTY, "jqel.library is not a full path: lib/JQelAgtMsg.dll: give the library file's full path"),
            row("jqel.library names a folder",
                t -> t.properties.setProperty("jqel.library", t.file("lib").getPath()),
                Fault.PROPERTY, "which is a folder, not the library: give the library file's full path", "!So a program"),
            row("jqel.library names a 64-bit DLL in a 32-bit JVM",
                t -> {
                    Binaries.Dll wide = Tree.ours();
                    wide.machine = 0x8664;
                    t.properties.setProperty("jqel.library", wide.write(t.file("x64/JQelAgtMsg.dll")).getPath());
                },
                Fault.LIBRARY_64, "name the 32-bit JQelAgtMsg.dll in -Djqel.library: the product's DLLs are 32-bit only"),
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
            row("the library truncated",
                t -> Files.write(t.file("lib/JQelAgtMsg.dll").toPath(), new byte[] {'M', 'Z'}),
                Fault.BAD_LIBRARY, "copy it again from the release archive, where certutil -hashfile JQelAgtMsg.dll SHA256"),
            row("a 32-bit DLL in a 64-bit JVM",
                t -> t.properties.setProperty("jqel.doctor.arch", "amd64"),
                Fault.LIBRARY_32, "run the program with a 32-bit JVM"),
            row("a Linux library where Windows runs",
                t -> ElfFile.of(t.file("lib/JQelAgtMsg.dll"), Collections.<String>emptyList(), null, null, ""),
                Fault.WRONG_SYSTEM, "use JQelAgtMsg.dll, the library built for Windows"),
            row("jqel.doctor.program names no file",
                t -> t.properties.setProperty("jqel.doctor.program", t.file("svc/service.exe").getPath()),
                Fault.PROGRAM, "give the full path of the program's .exe")
        );
    }

    /** The library in a folder whose name holds a ';', named in quotes in java.library.path. */
    static void quotedSemicolon(Tree tree) throws Exception {
        Files.move(tree.file("lib").toPath(), tree.file("l;ib").toPath());
        tree.properties.setProperty("java.library.path", "\"" + tree.file("l;ib") + "\"");
    }

    /** A folder of the tree with these permissions, made if missing, and its file {@code name} ("": none). */
    static File owned(Tree tree, String path, String permissions, String name) throws IOException {
        File folder = tree.file(path);
        folder.mkdirs();
        Files.setPosixFilePermissions(folder.toPath(), PosixFilePermissions.fromString(permissions));
        return name.isEmpty() ? folder : new File(folder, name);
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rows")
    void doctor(String name, Tree.Change change, Fault kind, String[] words, @TempDir File root) throws Exception {
        Tree tree = new Tree(root);
        if (name.startsWith("linux:")) {
            LinuxTest.library(tree.linux(), "lib/libJQelAgtMsg.so");
        } else {
            tree.windows();
        }
        change.apply(tree);
        tree.expect(kind, words);
    }

    /** -h and --help print the usage alone, on standard output, with status 0; any other argument on standard error, with 2. */
    @Test
    void arguments() {
        Object[][] rows = {
            {new String[] {}, null, "", ""},
            {new String[] {"--help"}, 0, "Usage: java [options] -jar jqel-doctor.jar", ""},
            {new String[] {"-h", "--help"}, 0, "-Djqel.doctor.program=<file>", ""},
            {new String[] {"-h", "--verbose"}, 2, "", "jqel-doctor: unknown argument --verbose" + System.lineSeparator()
                + "Usage: "},
        };
        List<Executable> checks = new ArrayList<>();
        for (Object[] row : rows) {
            checks.add(() -> {
                ByteArrayOutputStream out = new ByteArrayOutputStream();
                ByteArrayOutputStream err = new ByteArrayOutputStream();
                Integer status = Doctor.usage((String[]) row[0], new PrintStream(out, true), new PrintStream(err, true));
                String what = String.join(" ", (String[]) row[0]);
                assertEquals(row[1], status, what);
                for (int i = 0; i < 2; i++) {
                    String text = (i == 0 ? out : err).toString();
                    String expected = (String) row[2 + i];
                    assertTrue(expected.isEmpty() ? text.isEmpty() : text.startsWith(expected) || text.contains(expected),
                            what + ": " + (i == 0 ? "out" : "err") + " is " + text);
                }
            });
        }
        assertAll(checks);
    }

    /** Every section a verdict cites is a heading, or a paragraph's bold title, of the deployment guide. */
    @Test
    void sectionsAreTheGuides() throws Exception {
        List<String> lines = Files.readAllLines(new File(System.getProperty("jqel.doctor.guide")).toPath(),
                StandardCharsets.UTF_8).stream().map(line -> line.replace("`", "")).collect(Collectors.toList());
        for (Fault fault : Fault.values()) {
            String section = fault.section;
            assertTrue(lines.contains("## " + section) || lines.contains("# " + section)
                    || lines.contains("**" + section + ".**"), fault + " cites \"" + section + "\", which the guide lacks");
        }
    }
}
