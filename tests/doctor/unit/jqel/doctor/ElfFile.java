package jqel.doctor;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A small ELF library, or program, for the doctor's unit tests, written with
 * just the tables the doctor reads: one loadable segment over the whole
 * file, a dynamic section with DT_NEEDED, DT_RPATH and DT_RUNPATH, dynamic
 * symbols with their hash table, symbol versions (DT_VERNEED, DT_VERDEF)
 * and a string table, ELFCLASS32 and ELFCLASS64 alike. Set its fields,
 * then {@link #write}.
 */
final class ElfFile {
    int bits = 64;
    int machine = 62;
    /** ET_DYN, or ET_EXEC (2) for a program. */
    int type = 3;
    final List<String> needed = new ArrayList<>();
    String rpath;
    String runpath;
    /** Symbols it defines, takes from others, and takes if they are there (weak). */
    final List<String> defines = new ArrayList<>();
    final List<String> takes = new ArrayList<>();
    final List<String> takesWeak = new ArrayList<>();
    /** DT_VERNEED: library -> the versions it needs of it; a version ending in "?" is needed weakly. */
    final Map<String, List<String>> versionsNeeded = new LinkedHashMap<>();
    /** DT_VERDEF: the versions it defines. */
    final List<String> versionsDefined = new ArrayList<>();
    /** Bytes appended to the file, such as a version string, right after the tables or from {@link #textAt} on. */
    String text = "";
    int textAt;

    ElfFile needs(String... names) {
        needed.addAll(Arrays.asList(names));
        return this;
    }

    /** An ELF shared library of x86-64 with these DT_NEEDED, DT_RPATH and DT_RUNPATH entries; {@code text} is appended. */
    static File of(File file, List<String> needed, String rpath, String runpath, String text) throws IOException {
        ElfFile so = new ElfFile();
        so.needed.addAll(needed);
        so.rpath = rpath;
        so.runpath = runpath;
        so.text = text;
        return so.write(file);
    }

    File write(File file) throws IOException {
        file.getParentFile().mkdirs();
        Files.write(file.toPath(), bytes());
        return file;
    }

    byte[] bytes() {
        boolean wide = bits == 64;
        int word = wide ? 8 : 4;
        ByteArrayOutputStream strings = new ByteArrayOutputStream();
        strings.write(0);
        List<long[]> dynamic = new ArrayList<>();
        for (String name : needed) {
            dynamic.add(new long[] {1, add(strings, name)});
        }
        if (rpath != null) {
            dynamic.add(new long[] {15, add(strings, rpath)});
        }
        if (runpath != null) {
            dynamic.add(new long[] {29, add(strings, runpath)});
        }
        byte[] symbols = symbols(strings, wide);
        byte[] needs = versionsNeeded(strings);
        byte[] defs = versionsDefined(strings);
        int header = wide ? 64 : 52;
        int phdr = wide ? 56 : 32;
        int dynamicAt = header + 2 * phdr;
        int entries = dynamic.size() + 3 + (symbols.length > 0 ? 2 : 0) + (needs.length > 0 ? 1 : 0)
                + (defs.length > 0 ? 1 : 0);
        int symbolsAt = dynamicAt + 2 * word * entries;
        int symbolCount = symbols.length / (wide ? 24 : 16);
        int hashAt = symbolsAt + symbols.length;
        int needsAt = hashAt + (symbols.length > 0 ? 4 * (3 + symbolCount) : 0);
        int defsAt = needsAt + needs.length;
        int stringsAt = defsAt + defs.length;
        byte[] extra = text.getBytes(StandardCharsets.ISO_8859_1);
        int textStart = Math.max(stringsAt + strings.size(), textAt);
        int size = textStart + extra.length;
        if (symbols.length > 0) {
            dynamic.add(new long[] {6, symbolsAt});
            dynamic.add(new long[] {4, hashAt});
        }
        if (needs.length > 0) {
            dynamic.add(new long[] {0x6FFFFFFEL, needsAt});
        }
        if (defs.length > 0) {
            dynamic.add(new long[] {0x6FFFFFFCL, defsAt});
        }
        dynamic.add(new long[] {5, stringsAt});
        dynamic.add(new long[] {10, strings.size()});
        ByteBuffer elf = ByteBuffer.allocate(size).order(ByteOrder.LITTLE_ENDIAN);
        elf.putInt(0, 0x464C457F).put(4, (byte) (wide ? 2 : 1)).put(5, (byte) 1).put(6, (byte) 1);
        elf.putShort(16, (short) type).putShort(18, (short) machine).putInt(20, 1);
        int dynamicSize = 2 * word * entries;
        if (wide) {
            elf.putLong(32, header).putShort(52, (short) header).putShort(54, (short) phdr).putShort(56, (short) 2);
            elf.putInt(header, 1).putLong(header + 32, size).putLong(header + 40, size);
            elf.putInt(header + phdr, 2).putLong(header + phdr + 8, dynamicAt).putLong(header + phdr + 16, dynamicAt)
                    .putLong(header + phdr + 32, dynamicSize);
        } else {
            elf.putInt(28, header).putShort(40, (short) header).putShort(42, (short) phdr).putShort(44, (short) 2);
            elf.putInt(header, 1).putInt(header + 16, size).putInt(header + 20, size);
            elf.putInt(header + phdr, 2).putInt(header + phdr + 4, dynamicAt).putInt(header + phdr + 8, dynamicAt)
                    .putInt(header + phdr + 16, dynamicSize);
        }
        for (int i = 0; i < dynamic.size(); i++) {
            int at = dynamicAt + 2 * word * i;
            if (wide) {
                elf.putLong(at, dynamic.get(i)[0]).putLong(at + 8, dynamic.get(i)[1]);
            } else {
                elf.putInt(at, (int) dynamic.get(i)[0]).putInt(at + 4, (int) dynamic.get(i)[1]);
            }
        }
        elf.position(symbolsAt);
        elf.put(symbols);
        if (symbols.length > 0) {
            // DT_HASH: one bucket, one chain entry per symbol; its nchain is the symbol count.
            elf.putInt(hashAt, 1).putInt(hashAt + 4, symbolCount);
        }
        elf.position(needsAt);
        elf.put(needs).put(defs).put(strings.toByteArray());
        elf.position(textStart);
        elf.put(extra);
        return elf.array();
    }

    /** The dynamic symbol table: the null symbol, then each symbol, global or (takesWeak) weak, defined or not. */
    private byte[] symbols(ByteArrayOutputStream strings, boolean wide) {
        if (defines.isEmpty() && takes.isEmpty() && takesWeak.isEmpty()) {
            return new byte[0];
        }
        int size = wide ? 24 : 16;
        ByteBuffer table = ByteBuffer.allocate(size * (1 + defines.size() + takes.size() + takesWeak.size()))
                .order(ByteOrder.LITTLE_ENDIAN);
        int at = size;
        for (List<String> names : Arrays.asList(defines, takes, takesWeak)) {
            for (String name : names) {
                table.putInt(at, (int) add(strings, name));
                table.put(at + (wide ? 4 : 12), (byte) ((names == takesWeak ? 2 : 1) << 4 | 2));
                table.putShort(at + (wide ? 6 : 14), (short) (names == defines ? 7 : 0));
                at += size;
            }
        }
        return table.array();
    }

    /** Verneed entries of 16 bytes, each followed by its Vernaux entries of 16. */
    private byte[] versionsNeeded(ByteArrayOutputStream strings) {
        int count = 0;
        for (List<String> versions : versionsNeeded.values()) {
            count += 1 + versions.size();
        }
        ByteBuffer table = ByteBuffer.allocate(16 * count).order(ByteOrder.LITTLE_ENDIAN);
        int i = 0;
        for (Map.Entry<String, List<String>> library : versionsNeeded.entrySet()) {
            List<String> versions = library.getValue();
            table.putShort((short) 1).putShort((short) versions.size()).putInt((int) add(strings, library.getKey()))
                    .putInt(16).putInt(++i == versionsNeeded.size() ? 0 : 16 + 16 * versions.size());
            for (int j = 0; j < versions.size(); j++) {
                String version = versions.get(j);
                boolean weak = version.endsWith("?");
                table.putInt(0).putShort((short) (weak ? 2 : 0)).putShort((short) (2 + j))
                        .putInt((int) add(strings, weak ? version.substring(0, version.length() - 1) : version))
                        .putInt(j == versions.size() - 1 ? 0 : 16);
            }
        }
        return table.array();
    }

    /** Verdef entries of 20 bytes, each followed by its one Verdaux entry of 8. */
    private byte[] versionsDefined(ByteArrayOutputStream strings) {
        ByteBuffer table = ByteBuffer.allocate(28 * versionsDefined.size()).order(ByteOrder.LITTLE_ENDIAN);
        for (int i = 0; i < versionsDefined.size(); i++) {
            table.putShort((short) 1).putShort((short) 0).putShort((short) (i + 1)).putShort((short) 1).putInt(0)
                    .putInt(20).putInt(i == versionsDefined.size() - 1 ? 0 : 28);
            table.putInt((int) add(strings, versionsDefined.get(i))).putInt(0);
        }
        return table.array();
    }

    private static long add(ByteArrayOutputStream strings, String text) {
        long at = strings.size();
        byte[] bytes = (text + "\0").getBytes(StandardCharsets.UTF_8);
        strings.write(bytes, 0, bytes.length);
        return at;
    }
}
