package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;

/**
 * What the doctor reads from a library file: its format, the machine it is
 * built for and, read in full, the libraries it needs, what it takes from
 * them, what it provides, and where it says to look for its libraries.
 */
final class Image {
    static final String PE = "PE";
    static final String ELF = "ELF";

    final String format;
    /** The machine as the format names it: "i386", "AMD64", "x86-64". */
    final String machine;
    /** The machine as the JVM's os.arch names it ("x86", "amd64"), or "" for one the doctor does not know. */
    final String arch;
    final int bits;
    /** The libraries it imports (PE) or needs (ELF DT_NEEDED), in the order of its table. */
    final List<String> needed = new ArrayList<>();
    /**
     * PE: what it imports from each DLL of {@link #needed}, each function by
     * its name or as {@link #ordinal}. ELF: under the key "", the symbols it
     * takes from the libraries loaded with it (undefined, not weak).
     */
    final Map<String, List<String>> imports = new LinkedHashMap<>();
    /**
     * What it provides: PE exports by name and as {@link #ordinal}, each to
     * the "DLL.function" it is forwarded to, or to null; ELF defined dynamic
     * symbols, each to null.
     */
    final Map<String, String> exports = new HashMap<>();
    /** ELF: the DT_RPATH and DT_RUNPATH entries, unexpanded. */
    final List<String> rpath = new ArrayList<>();
    final List<String> runpath = new ArrayList<>();
    /** PE: the manifest resources (type 24), by id, each its first language's bytes. */
    final Map<Integer, byte[]> manifests = new TreeMap<>();
    /** ELF: the symbol versions it needs (DT_VERNEED, but weak ones), by the library that must define them. */
    final Map<String, List<String>> versionsNeeded = new LinkedHashMap<>();
    /** ELF: the symbol versions it defines (DT_VERDEF); empty when it has none. */
    final Set<String> versionsDefined = new HashSet<>();
    /**
     * What the file says its version is: a DLL's version resource
     * ("FileVersion ..., BuildDate ..."), the string our build embeds in the
     * Linux library after "@(#)JQelAgtMsg "; null if it says nothing.
     */
    String version;

    Image(String format, String machine, String arch, int bits) {
        this.format = format;
        this.machine = machine;
        this.arch = arch;
        this.bits = bits;
    }

    /** An image of the machine whose header code is {@code code}, named as the format names it. */
    static Image of(String format, int code, int bits) {
        Machine machine = Machine.of(format, code);
        if (machine == null) {
            return new Image(format, "machine 0x" + Integer.toHexString(code), "", bits);
        }
        return new Image(format, format.equals(PE) ? machine.peName : machine.elfName, machine.arch, bits);
    }

    /**
     * Reads the file's headers and, if {@code full}, its import table or
     * dynamic section and its manifest.
     */
    static Image read(File file, boolean full) throws BadFile {
        return read(file, full, false);
    }

    /** Reads a program (an ELF executable, for its run path), in full. */
    static Image program(File file) throws BadFile {
        return read(file, true, true);
    }

    private static Image read(File file, boolean full, boolean program) throws BadFile {
        try (BinaryFile in = BinaryFile.open(file)) {
            if (in.size() >= 4 && in.u32(0) == 0x464C457FL) {
                return Elf.read(in, full, program);
            }
            if (in.size() >= 2 && in.u16(0) == 0x5A4D) {
                return Pe.read(in, full);
            }
            throw new BadFile("is not a library: neither a PE (Windows) nor an ELF (Linux) file", BadFile.Kind.CORRUPT,
                    "invalid ELF header");
        }
    }

    /** A function imported or exported by ordinal alone, as {@link #imports} and {@link #exports} hold it. */
    static String ordinal(long number) {
        return "ordinal " + number;
    }

    /** "PE i386 (32-bit)", "ELF x86-64 (ELFCLASS64)". */
    String describe() {
        return format.equals(PE)
                ? PE + " " + machine + " (" + bits + "-bit)"
                : ELF + " " + machine + " (ELFCLASS" + bits + ")";
    }

    /** Whether a JVM of this architecture and bitness can load it (the format aside). */
    boolean runsOn(String jvmArch, int jvmBits) {
        if (arch.isEmpty() || jvmArch.isEmpty()) {
            return bits == jvmBits;
        }
        return arch.equals(jvmArch);
    }
}
