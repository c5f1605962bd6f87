package jqel.doctor;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** Reads an ELF file (a Linux shared library): class, machine, dynamic section. */
final class Elf {
    private static final int ET_DYN = 3;
    private static final long PT_LOAD = 1;
    private static final long PT_DYNAMIC = 2;
    private static final long DT_NEEDED = 1;
    private static final long DT_STRTAB = 5;
    private static final long DT_RPATH = 15;
    private static final long DT_RUNPATH = 29;
    /** The machines of an ELF header (EM_386, EM_X86_64, EM_AARCH64, EM_ARM), in the order of {@link Image#of}. */
    private static final int[] MACHINES = {3, 62, 183, 40};
    private static final String[] MACHINE_NAMES = {"i386", "x86-64", "AArch64", "ARM"};

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
        Image image = Image.of(Image.ELF, in.u16(18), MACHINES, MACHINE_NAMES, elf.wide ? 64 : 32);
        if (full) {
            elf.readDynamic(image);
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
        int step = wide ? 16 : 8;
        for (long at = dynamic; at + step <= dynamic + dynamicSize; at += step) {
            long tag = word(at);
            if (tag == 0) {
                break;
            }
            long value = word(at + step / 2);
            if (tag == DT_STRTAB) {
                strings = offset(value);
            } else if (tag == DT_NEEDED || tag == DT_RPATH || tag == DT_RUNPATH) {
                entries.add(new long[] {tag, value});
            }
        }
        if (strings < 0 && !entries.isEmpty()) {
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
