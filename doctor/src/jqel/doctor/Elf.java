package jqel.doctor;

import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** Reads an ELF file (a Linux shared library): class, machine, dynamic section, dynamic symbols. */
final class Elf {
    private static final int ET_EXEC = 2;
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
    private static final long DT_VERDEF = 0x6FFFFFFCL;
    private static final long DT_VERNEED = 0x6FFFFFFEL;
    /** vna_flags of a version that may be missing. */
    private static final int VER_FLG_WEAK = 2;
    /** The most version entries read, of either table. */
    private static final int MAX_VERSIONS = 4096;
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

    /**
     * Reads a shared library, or with {@code program} a program (ET_EXEC
     * as well), its headers and, if {@code full}, its dynamic section.
     */
    static Image read(BinaryFile in, boolean full, boolean program) throws BadFile {
        int elfClass = in.u8(4);
        if (elfClass != 1 && elfClass != 2) {
            throw BadFile.corrupt("is corrupt: its ELF class is " + elfClass);
        }
        if (in.size() < (elfClass == 2 ? 64 : 52)) {
            throw new BadFile("is truncated: it is too short for an ELF header", BadFile.Kind.CORRUPT, "file too short");
        }
        if (in.u8(5) == 2) {
            in.bigEndian();
        }
        Elf elf = new Elf(in, elfClass == 2);
        int type = in.u16(16);
        if (type == ET_EXEC && !program) {
            throw new BadFile("is a program, not a shared library", BadFile.Kind.CORRUPT, "cannot dynamically load executable");
        } else if (type != ET_DYN && type != ET_EXEC) {
            throw new BadFile("is not a shared library: its ELF type is " + type, BadFile.Kind.CORRUPT,
                    "only ET_DYN and ET_EXEC can be loaded");
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
        List<long[]> versions = new ArrayList<>();
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
            } else if (tag == DT_VERNEED || tag == DT_VERDEF) {
                versions.add(new long[] {tag, offset(value)});
            } else if (tag == DT_NEEDED || tag == DT_RPATH || tag == DT_RUNPATH) {
                entries.add(new long[] {tag, value});
            }
        }
        if (strings < 0 && (!entries.isEmpty() || !versions.isEmpty() || symbols >= 0)) {
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
        for (long[] version : versions) {
            if (version[0] == DT_VERNEED) {
                readNeeded(image, version[1], strings);
            } else {
                readDefined(image, version[1], strings);
            }
        }
        if (symbols >= 0 && (hash >= 0 || gnuHash >= 0)) {
            long symbolCount = hash >= 0 ? in.u32(hash + 4) : gnuSymbolCount(gnuHash);
            readSymbols(image, in.table(symbols, symbolCount * (wide ? 24 : 16)), in.table(strings, stringsSize));
        }
    }

    /**
     * DT_VERNEED: for each library, an entry (vn_cnt at 2, vn_file at 4,
     * vn_aux at 8, vn_next at 12), and for each version it needs from it an
     * auxiliary entry (vna_flags at 4, vna_name at 8, vna_next at 12), each
     * at the offset the previous one gives, 0 ending the list.
     */
    private void readNeeded(Image image, long table, long strings) throws BadFile {
        long entry = table;
        for (int i = 0, read = 0; i < MAX_VERSIONS; i++) {
            String file = in.string(strings + in.u32(entry + 4));
            List<String> needed = image.versionsNeeded.computeIfAbsent(file, k -> new ArrayList<>());
            long aux = entry + in.u32(entry + 8);
            for (int j = in.u16(entry + 2); j > 0 && read++ < MAX_VERSIONS; j--) {
                if ((in.u16(aux + 4) & VER_FLG_WEAK) == 0) {
                    needed.add(in.string(strings + in.u32(aux + 8)));
                }
                aux += in.u32(aux + 12);
            }
            long next = in.u32(entry + 12);
            if (next == 0) {
                return;
            }
            entry += next;
        }
        throw BadFile.corrupt("is corrupt: its table of needed versions does not end");
    }

    /**
     * DT_VERDEF: an entry per version it defines (vd_aux at 12, vd_next at
     * 16), whose first auxiliary entry names it (vda_name at 0).
     */
    private void readDefined(Image image, long table, long strings) throws BadFile {
        long entry = table;
        for (int i = 0; i < MAX_VERSIONS; i++) {
            image.versionsDefined.add(in.string(strings + in.u32(entry + in.u32(entry + 12))));
            long next = in.u32(entry + 16);
            if (next == 0) {
                return;
            }
            entry += next;
        }
        throw BadFile.corrupt("is corrupt: its table of defined versions does not end");
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
