package jqel.doctor;

import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/**
 * Reads a PE file (a Windows DLL): machine, import and export tables
 * (forwarders included), manifest and version resources. Addresses are
 * mapped to file offsets through the section table, read once and searched
 * by halving, so that a file of 65,535 sections costs no more per address
 * than one of three. The number of sections alone makes no file corrupt:
 * Windows XP refused more than 96, Vista and later take up to 65,535.
 */
final class Pe {
    /** Resource types RT_VERSION and RT_MANIFEST. */
    private static final int RT_VERSION = 16;
    private static final int RT_MANIFEST = 24;
    private static final int MAX_RESOURCE = 1 << 20;
    /** The most resources of one type read. */
    private static final int MAX_RESOURCES = 16;
    private static final int MAX_IMPORTS = 4096;
    /** The most functions read from its import tables, or from its export table. */
    private static final int MAX_FUNCTIONS = 65536;

    private final BinaryFile in;
    /** The sections as {address, size in memory, file offset}, sorted by address. */
    private long[][] sections = new long[0][];
    private boolean plus;
    /** The functions read from its import lookup tables so far, all DLLs together. */
    private int imported;

    private Pe(BinaryFile in) {
        this.in = in;
    }

    static Image read(BinaryFile in, boolean full) throws BadFile {
        return new Pe(in).read(full);
    }

    private Image read(boolean full) throws BadFile {
        long pe = in.u32(0x3C);
        if (in.u32(pe) != 0x4550) {
            throw BadFile.corrupt("is not a DLL: it has an MZ header, but no PE header");
        }
        int machine = in.u16(pe + 4);
        int sectionCount = in.u16(pe + 6);
        int optionalSize = in.u16(pe + 20);
        int characteristics = in.u16(pe + 22);
        long optional = pe + 24;
        int magic = in.u16(optional);
        if (magic != 0x10B && magic != 0x20B) {
            throw BadFile.corrupt("is corrupt: its optional header's magic is 0x" + Integer.toHexString(magic));
        }
        if ((characteristics & 0x2000) == 0) {
            throw BadFile.corrupt("is a Windows program, not a DLL");
        }
        plus = magic == 0x20B;
        Image image = Image.of(Image.PE, machine, plus ? 64 : 32);
        if (!full) {
            return image;
        }
        readSections(optional + optionalSize, sectionCount);
        long directoryCount = in.u32(optional + (plus ? 108 : 92));
        long directories = optional + (plus ? 112 : 96);
        if (directoryCount > 0) {
            readExports(image, in.u32(directories), in.u32(directories + 4));
        }
        if (directoryCount > 1) {
            readImports(image, in.u32(directories + 8));
        }
        if (directoryCount > 2) {
            long resources = in.u32(directories + 16);
            image.manifests.putAll(resources(resources, RT_MANIFEST));
            Map<Integer, byte[]> versions = resources(resources, RT_VERSION);
            if (!versions.isEmpty()) {
                image.version = version(versions.values().iterator().next());
            }
        }
        return image;
    }

    private void readSections(long table, int count) throws BadFile {
        ByteBuffer headers = in.table(table, 40L * count);
        sections = new long[count][];
        for (int i = 0; i < count; i++) {
            long virtualSize = headers.getInt(40 * i + 8) & 0xFFFFFFFFL;
            long rawSize = headers.getInt(40 * i + 16) & 0xFFFFFFFFL;
            sections[i] = new long[] {headers.getInt(40 * i + 12) & 0xFFFFFFFFL, Math.max(virtualSize, rawSize),
                headers.getInt(40 * i + 20) & 0xFFFFFFFFL};
        }
        Arrays.sort(sections, (a, b) -> Long.compare(a[0], b[0]));
    }

    /**
     * The import directory: one 20-byte descriptor per DLL, up to an empty
     * one, with the DLL's name at offset 12 and its lookup table (or, if
     * that is 0, its address table) at 0 (16): one entry per function, up
     * to an empty one, either an ordinal (top bit set) or the address of a
     * 2-byte hint and the function's name.
     */
    private void readImports(Image image, long rva) throws BadFile {
        if (rva == 0) {
            return;
        }
        long descriptor = offset(rva);
        for (int i = 0; i < MAX_IMPORTS; i++, descriptor += 20) {
            long name = in.u32(descriptor + 12);
            if (name == 0) {
                return;
            }
            String dll = in.string(offset(name));
            List<String> functions = image.imports.get(dll);
            if (functions == null) {
                image.needed.add(dll);
                functions = new ArrayList<>();
                image.imports.put(dll, functions);
            }
            long lookup = in.u32(descriptor);
            readFunctions(functions, lookup != 0 ? lookup : in.u32(descriptor + 16));
        }
        throw BadFile.corrupt("is corrupt: its import table does not end");
    }

    private void readFunctions(List<String> functions, long rva) throws BadFile {
        if (rva == 0) {
            return;
        }
        int size = plus ? 8 : 4;
        long entry = offset(rva);
        for (; imported < MAX_FUNCTIONS; imported++, entry += size) {
            long value = plus ? in.u64(entry) : in.u32(entry);
            if (value == 0) {
                return;
            }
            boolean byOrdinal = plus ? value < 0 : (value & 0x80000000L) != 0;
            functions.add(byOrdinal ? Image.ordinal(value & 0xFFFF) : in.string(offset(value & 0x7FFFFFFFL) + 2));
        }
        throw BadFile.corrupt("is corrupt: its import lookup tables would hold more than " + MAX_FUNCTIONS + " functions");
    }

    /**
     * The export directory: its address table holds one entry per ordinal
     * from the ordinal base on (0 where none is exported); an address inside
     * the directory itself is a forwarder, the text "OTHER.function" or
     * "OTHER.#ordinal". The name table and the ordinal table beside it give
     * each exported name its entry.
     */
    private void readExports(Image image, long rva, long directorySize) throws BadFile {
        if (rva == 0) {
            return;
        }
        long directory = offset(rva);
        long base = in.u32(directory + 16);
        long functions = in.u32(directory + 20);
        long names = in.u32(directory + 24);
        if (functions > MAX_FUNCTIONS || names > MAX_FUNCTIONS) {
            throw BadFile.corrupt("is corrupt: its export table would hold " + Math.max(functions, names) + " entries");
        }
        ByteBuffer addresses = functions == 0 ? null : in.table(offset(in.u32(directory + 28)), 4 * functions);
        String[] forwards = new String[(int) functions];
        for (int i = 0; i < functions; i++) {
            long address = addresses.getInt(4 * i) & 0xFFFFFFFFL;
            if (address != 0) {
                boolean forwarded = address >= rva && address < rva + directorySize;
                forwards[i] = forwarded ? in.string(offset(address)) : null;
                image.exports.put(Image.ordinal(base + i), forwards[i]);
            }
        }
        if (names == 0) {
            return;
        }
        ByteBuffer nameTable = in.table(offset(in.u32(directory + 32)), 4 * names);
        ByteBuffer ordinals = in.table(offset(in.u32(directory + 36)), 2 * names);
        for (int i = 0; i < names; i++) {
            int index = ordinals.getShort(2 * i) & 0xFFFF;
            String name = in.string(offset(nameTable.getInt(4 * i) & 0xFFFFFFFFL));
            image.exports.put(name, index < functions ? forwards[index] : null);
        }
    }

    /**
     * The resources of a type, by id, each its first language's data: the
     * tree goes type, then id, then language. None if it has none.
     */
    private Map<Integer, byte[]> resources(long rva, int type) throws BadFile {
        Map<Integer, byte[]> found = new TreeMap<>();
        if (rva == 0) {
            return found;
        }
        long root = offset(rva);
        long ids = entry(root, root, type);
        if (ids < 0) {
            return found;
        }
        int named = in.u16(ids + 12);
        int numbered = in.u16(ids + 14);
        for (int i = named; i < named + numbered && found.size() < MAX_RESOURCES; i++) {
            long entry = ids + 16 + 8L * i;
            long languages = root + (in.u32(entry + 4) & 0x7FFFFFFFL);
            if (in.u16(languages + 12) + in.u16(languages + 14) == 0) {
                continue;
            }
            long data = root + (in.u32(languages + 20) & 0x7FFFFFFFL);
            long size = in.u32(data + 4);
            if (size > MAX_RESOURCE) {
                throw BadFile.corrupt("is corrupt: a resource of it would be " + size + " bytes");
            }
            found.put((int) in.u32(entry), in.bytes(offset(in.u32(data)), (int) size));
        }
        return found;
    }

    /**
     * "FileVersion 1.0.0.0, BuildDate 2026-12-09" from a version resource,
     * whose strings are UTF-16: each key, its NUL, padding to four bytes,
     * then the value up to its NUL. Null if it has neither.
     */
    static String version(byte[] resource) {
        String text = new String(resource, 0, resource.length & ~1, StandardCharsets.UTF_16LE);
        List<String> found = new ArrayList<>();
        for (String key : new String[] {"FileVersion", "BuildDate"}) {
            int at = text.indexOf(key + "\0");
            if (at < 0) {
                continue;
            }
            int start = at + key.length();
            while (start < text.length() && text.charAt(start) == 0) {
                start++;
            }
            int end = text.indexOf('\0', start);
            found.add(key + " " + text.substring(start, end < 0 ? text.length() : end));
        }
        return found.isEmpty() ? null : String.join(", ", found);
    }

    /** The subdirectory of the entry with this id in a resource directory, or -1. */
    private long entry(long root, long directory, int id) throws BadFile {
        int named = in.u16(directory + 12);
        int numbered = in.u16(directory + 14);
        for (int i = named; i < named + numbered; i++) {
            long entry = directory + 16 + 8L * i;
            if (in.u32(entry) == id) {
                return root + (in.u32(entry + 4) & 0x7FFFFFFFL);
            }
        }
        return -1;
    }

    /** The file offset of a relative virtual address, through the section that holds it. */
    private long offset(long rva) throws BadFile {
        int low = 0;
        int high = sections.length - 1;
        while (low <= high) {
            int middle = (low + high) >>> 1;
            if (sections[middle][0] <= rva) {
                low = middle + 1;
            } else {
                high = middle - 1;
            }
        }
        if (high >= 0 && rva < sections[high][0] + sections[high][1]) {
            return sections[high][2] + (rva - sections[high][0]);
        }
        throw BadFile.corrupt("is corrupt: address 0x" + Long.toHexString(rva) + " lies in none of its sections");
    }
}
