package jqel.doctor;

import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** Reads an ELF file (a Linux shared library): class, machine, dynamic section, dynamic symbols. */
final class Elf {
    private static final int ET_DYN = 3;
    private static final long PT_LOAD = 1;
    private static final long PT_DYNAMIC = 2;
    private static final long DT_NEEDED = 1;
    private static final long DT_HASH = 4;
    private static final long DT_STRTAB = 5;
    private static final long DT_SYMTAB = 6;
    private static final long DT_STRSZ = 10;
    private static final long DT_RPATH = 15;
    private static final long DT_RUNPATH = 29;
    private static final long DT_GNU_HASH = 0x6FFFFEF5L;
    private static final int STB_LOCAL = 0;
    private static final int STB_WEAK = 2;
    private static final int STV_DEFAULT = 0;
    private static final int STV_PROTECTED = 3;
    /** The longest chain of a GNU hash table read: far more symbols than any library has share a hash. */
    private static final int MAX_CHAIN = 1 << 16;

    private final BinaryFile in;
    private final boolean wide;
    /** The loadable segments, as {virtual address, file offset, size in the file}. */
    private final List<long[]> loads = new ArrayList<>();

    private Elf(BinaryFile in, boolean wide) {
        this.in = in;
        this.wide = wide;
    }

    static Image read(BinaryFile in, boolean full) throws BadFile {
        int elfClass = in.u8(4);
        if (elfClass != 1 && elfClass != 2) {
            throw BadFile.corrupt("is corrupt: its ELF class is " + elfClass);
        }
        if (in.u8(5) == 2) {
            in.bigEndian();
        }
        Elf elf = new Elf(in, elfClass == 2);
        int type = in.u16(16);
        if (type != ET_DYN) {
            throw BadFile.corrupt("is not a shared library: its ELF type is " + type);
        }
        Image image = Image.of(Image.ELF, in.u16(18), elf.wide ? 64 : 32);
        if (full) {
            elf.readDynamic(image);
            image.version = in.marked("@(#)JQelAgtMsg ");
        }
        return image;
    }

    /** Follows the program headers to the dynamic section, and reads its entries. */
    private void readDynamic(Image image) throws BadFile {
        long table = word(wide ? 32 : 28);
        int entrySize = in.u16(wide ? 54 : 42);
        int count = in.u16(wide ? 56 : 44);
        long dynamic = -1;
        long dynamicSize = 0;
        for (int i = 0; i < count; i++) {
            long header = table + (long) entrySize * i;
            long type = in.u32(header);
            long offset = word(header + (wide ? 8 : 4));
            long address = word(header + (wide ? 16 : 8));
            long fileSize = word(header + (wide ? 32 : 16));
            if (type == PT_LOAD) {
                loads.add(new long[] {address, offset, fileSize});
            } else if (type == PT_DYNAMIC) {
                dynamic = offset;
                dynamicSize = fileSize;
            }
        }
        if (dynamic < 0) {
            return;
        }
        List<long[]> entries = new ArrayList<>();
        long strings = -1;
        long stringsSize = 0;
        long symbols = -1;
        long hash = -1;
        long gnuHash = -1;
        int step = wide ? 16 : 8;
        for (long at = dynamic; at + step <= dynamic + dynamicSize; at += step) {
            long tag = word(at);
            if (tag == 0) {
                break;
            }
            long value = word(at + step / 2);
            if (tag == DT_STRTAB) {
                strings = offset(value);
            } else if (tag == DT_STRSZ) {
                stringsSize = value;
            } else if (tag == DT_SYMTAB) {
                symbols = offset(value);
            } else if (tag == DT_HASH) {
                hash = offset(value);
            } else if (tag == DT_GNU_HASH) {
                gnuHash = offset(value);
            } else if (tag == DT_NEEDED || tag == DT_RPATH || tag == DT_RUNPATH) {
                entries.add(new long[] {tag, value});
            }
        }
        if (strings < 0 && (!entries.isEmpty() || symbols >= 0)) {
            throw BadFile.corrupt("is corrupt: its dynamic section has no string table");
        }
        for (long[] entry : entries) {
            String text = in.string(strings + entry[1]);
            if (entry[0] == DT_NEEDED) {
                image.needed.add(text);
            } else {
                (entry[0] == DT_RPATH ? image.rpath : image.runpath).addAll(Arrays.asList(text.split(":", -1)));
            }
        }
        if (symbols >= 0 && (hash >= 0 || gnuHash >= 0)) {
            long symbolCount = hash >= 0 ? in.u32(hash + 4) : gnuSymbolCount(gnuHash);
            readSymbols(image, in.table(symbols, symbolCount * (wide ? 24 : 16)), in.table(strings, stringsSize));
        }
    }

    /**
     * The dynamic symbols: those defined and visible go to the image's
     * exports, those undefined and not weak to its imports. (The symbol
     * table's size is not in the dynamic section: the hash table gives it.)
     */
    private void readSymbols(Image image, ByteBuffer table, ByteBuffer strings) throws BadFile {
        List<String> undefined = new ArrayList<>();
        int size = wide ? 24 : 16;
        for (int at = size; at + size <= table.limit(); at += size) {
            int info = table.get(at + (wide ? 4 : 12)) & 0xFF;
            int visibility = table.get(at + (wide ? 5 : 13)) & 3;
            int section = table.getShort(at + (wide ? 6 : 14)) & 0xFFFF;
            int binding = info >> 4;
            String name = BinaryFile.string(strings, table.getInt(at) & 0xFFFFFFFFL);
            if (name.isEmpty() || binding == STB_LOCAL) {
                continue;
            }
            if (section == 0) {
                if (binding != STB_WEAK) {
                    undefined.add(name);
                }
            } else if (visibility == STV_DEFAULT || visibility == STV_PROTECTED) {
                image.exports.put(name, null);
            }
        }
        image.imports.put("", undefined);
    }

    /**
     * The number of dynamic symbols, from a GNU hash table: after its header
     * and Bloom filter, one bucket per hash value holds the first symbol of
     * its chain; the chains follow, and the last symbol of each has bit 0 set.
     */
    private long gnuSymbolCount(long table) throws BadFile {
        long buckets = in.u32(table);
        long first = in.u32(table + 4);
        long bloom = in.u32(table + 8);
        long bucketTable = table + 16 + bloom * (wide ? 8 : 4);
        ByteBuffer bucket = in.table(bucketTable, 4 * buckets);
        long last = 0;
        for (int i = 0; i < buckets; i++) {
            last = Math.max(last, bucket.getInt(4 * i) & 0xFFFFFFFFL);
        }
        if (last < first) {
            return first;
        }
        long chains = bucketTable + 4 * buckets;
        for (long i = last; i - last < MAX_CHAIN; i++) {
            if ((in.u32(chains + 4 * (i - first)) & 1) != 0) {
                return i + 1;
            }
        }
        throw BadFile.corrupt("is corrupt: a chain of its symbol hash table does not end");
    }

    /** An address or offset: 32 bits in ELFCLASS32, 64 in ELFCLASS64. */
    private long word(long offset) throws BadFile {
        return wide ? in.u64(offset) : in.u32(offset);
    }

    /** The file offset of a virtual address, through the loadable segment that holds it. */
    private long offset(long address) throws BadFile {
        for (long[] load : loads) {
            if (address >= load[0] && address - load[0] < load[2]) {
                return load[1] + (address - load[0]);
            }
        }
        throw BadFile.corrupt("is corrupt: address 0x" + Long.toHexString(address) + " lies in none of its segments");
    }
}
