package jqel.doctor;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;

/** Reads a PE file (a Windows DLL): machine, import and export tables, manifest resource. */
final class Pe {
    /** Resource type RT_MANIFEST, and the id of the manifest that Windows reads for a DLL. */
    private static final int RT_MANIFEST = 24;
    private static final int DLL_MANIFEST_ID = 2;
    private static final int MAX_MANIFEST = 1 << 20;
    private static final int MAX_IMPORTS = 4096;
    /** The most functions read from its import tables, or from its export table. */
    private static final int MAX_FUNCTIONS = 65536;
    /** The machines of a PE header, in the order of {@link Image#of}. */
    private static final int[] MACHINES = {0x14C, 0x8664, 0xAA64, 0x1C4};
    private static final String[] MACHINE_NAMES = {"i386", "AMD64", "ARM64", "ARM"};

    private final BinaryFile in;
    private long sectionTable;
    private int sections;
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
        sections = in.u16(pe + 6);
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
        Image image = Image.of(Image.PE, machine, MACHINES, MACHINE_NAMES, plus ? 64 : 32);
        if (!full) {
            return image;
        }
        sectionTable = optional + optionalSize;
        long directoryCount = in.u32(optional + (plus ? 108 : 92));
        long directories = optional + (plus ? 112 : 96);
        if (directoryCount > 0) {
            readExports(image, in.u32(directories));
        }
        if (directoryCount > 1) {
            readImports(image, in.u32(directories + 8));
        }
        if (directoryCount > 2) {
            readManifest(image, in.u32(directories + 16));
        }
        return image;
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
     * from the ordinal base on (0 where none is exported); its name table
     * the exported names.
     */
    private void readExports(Image image, long rva) throws BadFile {
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
        long addresses = functions == 0 ? 0 : offset(in.u32(directory + 28));
        for (int i = 0; i < functions; i++) {
            if (in.u32(addresses + 4L * i) != 0) {
                image.exports.add(Image.ordinal(base + i));
            }
        }
        long nameTable = names == 0 ? 0 : offset(in.u32(directory + 32));
        for (int i = 0; i < names; i++) {
            image.exports.add(in.string(offset(in.u32(nameTable + 4L * i))));
        }
    }

    /**
     * The resource tree: type, then id, then language. Takes the manifest of
     * id 2 in its first language.
     */
    private void readManifest(Image image, long rva) throws BadFile {
        if (rva == 0) {
            return;
        }
        long root = offset(rva);
        long ids = entry(root, root, RT_MANIFEST);
        long languages = ids < 0 ? -1 : entry(root, ids, DLL_MANIFEST_ID);
        if (languages < 0 || in.u16(languages + 12) + in.u16(languages + 14) == 0) {
            return;
        }
        long data = root + (in.u32(languages + 20) & 0x7FFFFFFFL);
        long size = in.u32(data + 4);
        if (size > MAX_MANIFEST) {
            throw BadFile.corrupt("is corrupt: its manifest would be " + size + " bytes");
        }
        byte[] text = in.bytes(offset(in.u32(data)), (int) size);
        image.manifest = new String(text, StandardCharsets.UTF_8).replace("\uFEFF", "");
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
        for (int i = 0; i < sections; i++) {
            long section = sectionTable + 40L * i;
            long virtualSize = in.u32(section + 8);
            long address = in.u32(section + 12);
            long rawSize = in.u32(section + 16);
            if (rva >= address && rva < address + Math.max(virtualSize, rawSize)) {
                return in.u32(section + 20) + (rva - address);
            }
        }
        throw BadFile.corrupt("is corrupt: address 0x" + Long.toHexString(rva) + " lies in none of its sections");
    }
}
