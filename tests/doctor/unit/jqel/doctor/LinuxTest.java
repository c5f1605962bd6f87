package jqel.doctor;

import static jqel.doctor.Tree.row;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.Arrays;
import java.util.stream.Stream;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * ld.so as the doctor models it after glibc's elf/dl-load.c: its search
 * order and run paths, the files it passes over and those it stops at, the
 * symbols and symbol versions each library needs, and the ELF files it
 * reads. Each row lays out lib/libJQelAgtMsg.so and what it needs
 * (libjqeltesta.so, libjqeltestb.so) for a 64-bit Linux JVM, ld.so.conf
 * being the tree's own.
 */
class LinuxTest {
    static Stream<Arguments> rows() {
        return Stream.of(
            row("DT_RPATH of the library that loads it, where the needing one has none",
                t -> {
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), "$ORIGIN/deps", null,
                            "@(#)JQelAgtMsg 1.2.3\0");
                    library(t, "lib/deps/libjqeltesta.so").needs("libjqeltestb.so").write(t.file("lib/deps/libjqeltesta.so"));
                    library(t, "lib/deps/libjqeltestb.so");
                },
                null, "Version: 1.2.3", "libjqeltestb.so: %ROOT%/lib/deps/libjqeltestb.so"),
            row("DT_RUNPATH of the needing library turns DT_RPATH off",
                t -> {
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), "$ORIGIN/deps", null, "");
                    ElfFile.of(t.file("lib/deps/libjqeltesta.so"), Arrays.asList("libjqeltestb.so"), null, "/nowhere", "");
                    library(t, "lib/deps/libjqeltestb.so");
                },
                Fault.MISSING, "libjqeltestb.so is in none of the folders Linux looks in"),
            row("DT_RUNPATH counts for the object's own DT_NEEDED only",
                t -> {
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null, "$ORIGIN/deps", "");
                    library(t, "lib/deps/libjqeltesta.so").needs("libjqeltestb.so").write(t.file("lib/deps/libjqeltesta.so"));
                    library(t, "lib/deps/libjqeltestb.so");
                },
                Fault.MISSING, "libjqeltestb.so is in none of the folders Linux looks in"
                    + " (libJQelAgtMsg.so -> libjqeltesta.so -> libjqeltestb.so)"),
            row("the DT_RPATH of a loader that has DT_RUNPATH too does not count",
                t -> {
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), "$ORIGIN/deps2",
                            "$ORIGIN/deps", "");
                    library(t, "lib/deps/libjqeltesta.so").needs("libjqeltestb.so").write(t.file("lib/deps/libjqeltesta.so"));
                    library(t, "lib/deps2/libjqeltestb.so");
                },
                Fault.MISSING, "libjqeltestb.so is in none of the folders Linux looks in"),
            row("DT_RPATH comes before LD_LIBRARY_PATH",
                t -> {
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), "$ORIGIN/deps", null, "");
                    library(t, "lib/deps/libjqeltesta.so");
                    library(t, "ld/libjqeltesta.so");
                    t.environment.put("LD_LIBRARY_PATH", t.file("ld").getPath());
                },
                null, "libjqeltesta.so: %ROOT%/lib/deps/libjqeltesta.so"),
            row("LD_LIBRARY_PATH comes before DT_RUNPATH",
                t -> {
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null, "$ORIGIN/deps", "");
                    library(t, "lib/deps/libjqeltesta.so");
                    library(t, "ld/libjqeltesta.so");
                    t.environment.put("LD_LIBRARY_PATH", t.file("none") + ":" + t.file("ld"));
                },
                null, "libjqeltesta.so: %ROOT%/ld/libjqeltesta.so", "  %ROOT%/ld (LD_LIBRARY_PATH)"),
            row("the program's own DT_RPATH ($ORIGIN/../lib of bin/java) is in the chain",
                t -> {
                    program(t, "$ORIGIN:$ORIGIN/../lib");
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null, "$ORIGIN", "");
                    library(t, "lib/libjqeltesta.so").needs("libjqeltestb.so").write(t.file("lib/libjqeltesta.so"));
                    library(t, "jvm/lib/libjqeltestb.so");
                },
                null, "libjqeltestb.so: %ROOT%/jvm/bin/../lib/libjqeltestb.so"),
            row("an empty entry of LD_LIBRARY_PATH is the current folder",
                t -> {
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null, null, "");
                    library(t, "cwd/libjqeltesta.so");
                    t.properties.setProperty("user.dir", t.file("cwd").getPath());
                    t.environment.put("LD_LIBRARY_PATH", t.file("none") + ":");
                },
                null, "libjqeltesta.so: %ROOT%/cwd/libjqeltesta.so"),
            row("$ORIGIN in LD_LIBRARY_PATH is the program's folder",
                t -> {
                    program(t, null);
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null, null, "");
                    library(t, "jvm/ext/libjqeltesta.so");
                    t.environment.put("LD_LIBRARY_PATH", "$ORIGIN/../ext");
                },
                null, "libjqeltesta.so: %ROOT%/jvm/bin/../ext/libjqeltesta.so"),
            row("$LIB and $PLATFORM expanded",
                t -> {
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so", "libjqeltestb.so"), null,
                            "$ORIGIN/${PLATFORM}:$ORIGIN/$LIB", "");
                    library(t, "lib/x86_64/libjqeltesta.so");
                    library(t, "lib/lib/x86_64-linux-gnu/libjqeltestb.so");
                },
                null, "libjqeltesta.so: %ROOT%/lib/x86_64/libjqeltesta.so",
                "libjqeltestb.so: %ROOT%/lib/lib/x86_64-linux-gnu/libjqeltestb.so"),
            row("the folders of ld.so.conf, stated as the cache's, come before the default ones",
                t -> {
                    Files.write(t.file("ld.so.conf").toPath(), (t.file("conf") + "\n").getBytes(StandardCharsets.UTF_8));
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libc.so.6"), null, null, "");
                    library(t, "conf/libc.so.6");
                },
                null, "  ld.so.cache, as the folders of /etc/ld.so.conf it is built from: %ROOT%/conf",
                "libc.so.6: %ROOT%/conf/libc.so.6"),
            row("include in ld.so.conf, its files read in sorted order",
                t -> {
                    Files.write(t.file("ld.so.conf").toPath(), "include conf.d/*.conf\n".getBytes(StandardCharsets.UTF_8));
                    t.file("conf.d").mkdirs();
                    Files.write(t.file("conf.d/b.conf").toPath(), (t.file("confb") + "\n").getBytes(StandardCharsets.UTF_8));
                    Files.write(t.file("conf.d/a.conf").toPath(), (t.file("confa") + "\n").getBytes(StandardCharsets.UTF_8));
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null, null, "");
                    library(t, "confa/libjqeltesta.so");
                    library(t, "confb/libjqeltesta.so");
                },
                null, "libjqeltesta.so: %ROOT%/confa/libjqeltesta.so"),
            row("a library the process holds is taken before any search",
                t -> {
                    ElfFile.of(t.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null, "$ORIGIN", "");
                    library(t, "lib/libjqeltesta.so");
                    t.loaded.add(library(t, "held/libjqeltesta.so.1").write(t.file("held/libjqeltesta.so.1")));
                },
                null, "libjqeltesta.so: %ROOT%/held/libjqeltesta.so.1, ELF x86-64 (ELFCLASS64), already loaded in the JVM's"
                    + " process"),
            row("a linker script first on LD_LIBRARY_PATH stops ld.so",
                t -> {
                    onLibraryPath(t);
                    Files.write(t.file("ld/libjqeltesta.so").toPath(), "/* GNU ld script */\nINPUT(libjqeltesta.so.1 AS_NEEDED("
                            .concat("libjqeltestb.so))\n").getBytes(StandardCharsets.US_ASCII));
                },
                Fault.BAD_DEPENDENCY, "Fault: %ROOT%/ld/libjqeltesta.so, the first libjqeltesta.so that Linux finds, is not a"
                    + " library: neither a PE (Windows) nor an ELF (Linux) file: ld.so stops there, with \"invalid ELF"
                    + " header\"\n",
                "Verdict: Linux finds libjqeltesta.so (which libJQelAgtMsg.so needs) first at %ROOT%/ld/libjqeltesta.so, which"
                    + " is not a library: neither a PE (Windows) nor an ELF (Linux) file: repair the installation it comes"
                    + " from, or name the folder of the right libjqeltesta.so in LD_LIBRARY_PATH before %ROOT%/ld"),
            row("so does a file too short for an ELF header, whatever it holds",
                t -> {
                    onLibraryPath(t);
                    Files.write(t.file("ld/libjqeltesta.so").toPath(), "short\n".getBytes(StandardCharsets.US_ASCII));
                },
                Fault.BAD_DEPENDENCY, "ld.so stops there, with \"file too short\""),
            row("so does a folder named like the library",
                t -> {
                    onLibraryPath(t);
                    t.file("ld/libjqeltesta.so").mkdirs();
                },
                Fault.BAD_DEPENDENCY, "ld.so stops there, with \"cannot read file data: Is a directory\""),
            row("one of the other class (ELFCLASS32) is passed over",
                t -> {
                    onLibraryPath(t);
                    ElfFile narrow = new ElfFile();
                    narrow.bits = 32;
                    narrow.machine = 3;
                    narrow.write(t.file("ld/libjqeltesta.so"));
                },
                null, "passed over %ROOT%/ld/libjqeltesta.so, which is built for i386 (32-bit)"),
            row("a 32-bit JVM reads ELFCLASS32 libraries whole, symbols included",
                t -> {
                    t.properties.setProperty("os.arch", "i386");
                    t.properties.setProperty("sun.arch.data.model", "32");
                    ElfFile root = new ElfFile().needs("libjqeltesta.so");
                    root.bits = 32;
                    root.machine = 3;
                    root.runpath = "$ORIGIN";
                    root.takes.addAll(Arrays.asList("qelagt_cma_get", "qelagt_cma_names"));
                    root.write(t.file("lib/libJQelAgtMsg.so"));
                    ElfFile agent = new ElfFile();
                    agent.bits = 32;
                    agent.machine = 3;
                    agent.defines.add("qelagt_cma_names");
                    agent.write(t.file("lib/libjqeltesta.so"));
                },
                Fault.LACKS, "libjqeltesta.so: %ROOT%/lib/libjqeltesta.so, ELF i386 (ELFCLASS32)",
                "%ROOT%/lib/libJQelAgtMsg.so needs qelagt_cma_get, which no library loaded with it defines"),
            row("a symbol no library loaded with it defines",
                t -> {
                    ElfFile root = new ElfFile().needs("libjqeltesta.so");
                    root.runpath = "$ORIGIN";
                    root.takes.add("qelagt_cma_names");
                    root.write(t.file("lib/libJQelAgtMsg.so"));
                    library(t, "lib/libjqeltesta.so");
                },
                Fault.LACKS, "%ROOT%/lib/libJQelAgtMsg.so needs qelagt_cma_names, which no library loaded with it defines:"
                    + " %ROOT%/lib/libjqeltesta.so is from another version of the product", "!Fault:"),
            row("a weak symbol may be missing",
                t -> {
                    ElfFile root = new ElfFile().needs("libjqeltesta.so");
                    root.runpath = "$ORIGIN";
                    root.takesWeak.add("qelagt_optional");
                    root.write(t.file("lib/libJQelAgtMsg.so"));
                    library(t, "lib/libjqeltesta.so");
                },
                null, "Symbols: each one needed is defined"),
            row("a symbol version the library providing it does not define; a weak one may be missing",
                t -> {
                    ElfFile root = new ElfFile().needs("libjqeltesta.so");
                    root.runpath = "$ORIGIN";
                    root.versionsNeeded.put("libjqeltesta.so", Arrays.asList("QEL_2", "QEL_3?"));
                    root.write(t.file("lib/libJQelAgtMsg.so"));
                    ElfFile agent = new ElfFile();
                    agent.versionsDefined.addAll(Arrays.asList("libjqeltesta.so", "QEL_1"));
                    agent.write(t.file("lib/libjqeltesta.so"));
                },
                Fault.LACKS_VERSION, "%ROOT%/lib/libJQelAgtMsg.so needs version QEL_2 of libjqeltesta.so, which"
                    + " %ROOT%/lib/libjqeltesta.so does not define: %ROOT%/lib/libjqeltesta.so is from another version of the"
                    + " product"),
            row("a symbol version the providing library defines, and one asked of a library that defines none",
                t -> {
                    ElfFile root = new ElfFile().needs("libjqeltesta.so", "libjqeltestb.so");
                    root.runpath = "$ORIGIN";
                    root.versionsNeeded.put("libjqeltesta.so", Arrays.asList("QEL_1"));
                    root.versionsNeeded.put("libjqeltestb.so", Arrays.asList("QEL_9"));
                    root.write(t.file("lib/libJQelAgtMsg.so"));
                    ElfFile agent = new ElfFile();
                    agent.versionsDefined.addAll(Arrays.asList("libjqeltesta.so", "QEL_1"));
                    agent.write(t.file("lib/libjqeltesta.so"));
                    library(t, "lib/libjqeltestb.so");
                },
                null, "Symbols: each one needed is defined"),
            row("a version the system's C library lacks: built for a newer system",
                t -> {
                    Files.write(t.file("ld.so.conf").toPath(), (t.file("conf") + "\n").getBytes(StandardCharsets.UTF_8));
                    ElfFile root = new ElfFile().needs("libc.so.6");
                    root.versionsNeeded.put("libc.so.6", Arrays.asList("GLIBC_2.99"));
                    root.write(t.file("lib/libJQelAgtMsg.so"));
                    ElfFile libc = new ElfFile();
                    libc.versionsDefined.addAll(Arrays.asList("libc.so.6", "GLIBC_2.2.5"));
                    libc.write(t.file("conf/libc.so.6"));
                },
                Fault.LACKS_VERSION, "needs version GLIBC_2.99 of libc.so.6, which %ROOT%/conf/libc.so.6 does not define:"
                    + " libJQelAgtMsg.so is built for a newer system than this one"),
            row("the version string read across a 64 KiB boundary",
                t -> {
                    ElfFile root = new ElfFile();
                    root.text = "@(#)JQelAgtMsg 1.2.3\0";
                    root.textAt = (1 << 16) - 8;
                    root.write(t.file("lib/libJQelAgtMsg.so"));
                },
                null, "Version: 1.2.3"),
            row("a program where the library should be",
                t -> {
                    ElfFile program = new ElfFile();
                    program.type = 2;
                    program.write(t.file("lib/libJQelAgtMsg.so"));
                },
                Fault.BAD_LIBRARY, "%ROOT%/lib/libJQelAgtMsg.so is a program, not a shared library: copy it again from the"
                    + " release archive, where sha256sum -c SHA256SUMS checks it")
        );
    }

    /** An ELF library of x86-64 at {@code path}, written, that a row may change and write again. */
    static ElfFile library(Tree tree, String path) throws IOException {
        ElfFile library = new ElfFile();
        library.write(tree.file(path));
        return library;
    }

    /** The JVM's program, jvm/bin/java, with this DT_RPATH. */
    static void program(Tree tree, String rpath) throws IOException {
        ElfFile java = new ElfFile();
        java.type = 2;
        java.rpath = rpath;
        java.write(tree.file("jvm/bin/java"));
        tree.properties.setProperty("jqel.doctor.command", tree.file("jvm/bin/java").getPath());
    }

    /** The library needing libjqeltesta.so, which is beside it (DT_RUNPATH $ORIGIN) and first on LD_LIBRARY_PATH. */
    static void onLibraryPath(Tree tree) throws IOException {
        ElfFile.of(tree.file("lib/libJQelAgtMsg.so"), Arrays.asList("libjqeltesta.so"), null, "$ORIGIN", "");
        library(tree, "lib/libjqeltesta.so");
        tree.file("ld").mkdirs();
        tree.environment.put("LD_LIBRARY_PATH", tree.file("ld").getPath());
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rows")
    void linux(String name, Tree.Change change, Fault kind, String[] words, @TempDir File root) throws Exception {
        Tree tree = new Tree(root).linux();
        change.apply(tree);
        tree.expect(kind, words);
    }
}
