package jqel.doctor;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/**
 * Small PE libraries for the doctor's unit tests, written with just the
 * tables the doctor reads: a DLL's exports (forwarders included), imports,
 * manifest and version resources, PE32 and PE32+ alike. ElfFile writes the
 * ELF ones.
 */
final class Binaries {
    private Binaries() {}

    /** A DLL: set its fields, then {@link #write}. */
    static final class Dll {
        int machine = 0x14C;
        /** Imported DLL -> functions, each a name or "ordinal N". */
        final Map<String, List<String>> imports = new LinkedHashMap<>();
        /** Exported ordinal -> its name (null: by ordinal alone). */
        final Map<Integer, String> exports = new TreeMap<>();
        /** Exported ordinal -> "DLL.function" it is forwarded to. */
        final Map<Integer, String> forwards = new TreeMap<>();
        String manifest;
        /** The manifest's resource id: 2, which Windows reads for a DLL's imports, unless a row says otherwise. */
        int manifestId = 2;
        /** The manifest in UTF-16 with its byte-order mark, not UTF-8. */
        boolean utf16;
        String fileVersion;
        /** The file header's characteristics: a DLL's, or without 0x2000 a program's. */
        int characteristics = 0x2102;
        /** Leaves out the padding after the last table, so that a read ends at the file's last byte. */
        boolean trimmed;
        /** Sections besides the one that holds the tables, placed before it in the section table. */
        int extraSections;

        Dll imports(String dll, String... functions) {
            imports.computeIfAbsent(dll, k -> new ArrayList<>()).addAll(java.util.Arrays.asList(functions));
            return this;
        }

        Dll exports(int... ordinals) {
            for (int ordinal : ordinals) {
                exports.put(ordinal, null);
            }
            return this;
        }

        File write(File file) throws IOException {
            file.getParentFile().mkdirs();
            Files.write(file.toPath(), bytes());
            return file;
        }

        byte[] bytes() {
            boolean plus = machine != 0x14C;
            int optionalSize = plus ? 240 : 224;
            int sections = 1 + extraSections;
            int headers = 0x40 + 24 + optionalSize + 40 * sections;
            int raw = (headers + 0x1FF) & ~0x1FF;
            int base = 0x1000;
            Section data = new Section(base);
            data.bytes(new byte[16]);
            int[] exportDir = exportTable(data);
            int importDir = importTable(data, plus);
            int resourceDir = resources(data);
            byte[] body = trimmed ? data.trimmed() : data.array();
            ByteBuffer file = ByteBuffer.allocate(raw + body.length).order(ByteOrder.LITTLE_ENDIAN);
            file.putShort(0, (short) 0x5A4D).putInt(0x3C, 0x40).putInt(0x40, 0x4550);
            file.putShort(0x44, (short) machine).putShort(0x46, (short) sections).putShort(0x54, (short) optionalSize)
                    .putShort(0x56, (short) characteristics);
            int optional = 0x58;
            file.putShort(optional, (short) (plus ? 0x20B : 0x10B));
            int directories = optional + (plus ? 112 : 96);
            file.putInt(optional + (plus ? 108 : 92), 16);
            file.putInt(directories, exportDir[0]).putInt(directories + 4, exportDir[1]);
            file.putInt(directories + 8, importDir).putInt(directories + 16, resourceDir);
            int table = optional + optionalSize;
            for (int i = 0; i < extraSections; i++) {
                int at = table + 40 * i;
                file.putInt(at + 8, 0x1000).putInt(at + 12, 0x100000 + 0x1000 * i);
            }
            int at = table + 40 * extraSections;
            file.putInt(at + 8, body.length).putInt(at + 12, base).putInt(at + 16, body.length).putInt(at + 20, raw);
            file.position(raw);
            file.put(body);
            return file.array();
        }

        /** {rva, size} of the export directory, with its tables and forwarder strings inside it. */
        private int[] exportTable(Section data) {
            if (exports.isEmpty() && forwards.isEmpty()) {
                return new int[2];
            }
            TreeMap<Integer, String> all = new TreeMap<>(exports);
            for (Integer ordinal : forwards.keySet()) {
                all.putIfAbsent(ordinal, null);
            }
            int first = all.firstKey();
            int count = all.lastKey() - first + 1;
            TreeMap<String, Integer> names = new TreeMap<>();
            all.forEach((ordinal, name) -> {
                if (name != null) {
                    names.put(name, ordinal);
                }
            });
            int start = data.rva();
            int directory = data.reserve(40);
            int addresses = data.reserve(4 * count);
            int namePointers = data.reserve(4 * names.size());
            int ordinals = data.reserve(2 * names.size());
            for (int i = 0; i < count; i++) {
                String forward = forwards.get(first + i);
                int address = forward != null ? data.string(forward) : all.containsKey(first + i) ? 0x1000 : 0;
                data.putInt(addresses + 4 * i, address);
            }
            int i = 0;
            for (Map.Entry<String, Integer> name : names.entrySet()) {
                data.putInt(namePointers + 4 * i, data.string(name.getKey()));
                data.putShort(ordinals + 2 * i, name.getValue() - first);
                i++;
            }
            data.putInt(directory + 16, first).putInt(directory + 20, count).putInt(directory + 24, names.size());
            data.putInt(directory + 28, addresses).putInt(directory + 32, namePointers).putInt(directory + 36, ordinals);
            return new int[] {start, data.rva() - start};
        }

        private int importTable(Section data, boolean plus) {
            if (imports.isEmpty()) {
                return 0;
            }
            int descriptors = data.reserve(20 * (imports.size() + 1));
            int d = 0;
            int entry = plus ? 8 : 4;
            for (Map.Entry<String, List<String>> dll : imports.entrySet()) {
                int lookup = data.reserve(entry * (dll.getValue().size() + 1));
                for (int i = 0; i < dll.getValue().size(); i++) {
                    String function = dll.getValue().get(i);
                    long value = function.startsWith("ordinal ") ? Long.parseLong(function.substring(8))
                            | (plus ? Long.MIN_VALUE : 0x80000000L) : data.string("\0\0" + function) & 0xFFFFFFFFL;
                    if (plus) {
                        data.putLong(lookup + entry * i, value);
                    } else {
                        data.putInt(lookup + entry * i, (int) value);
                    }
                }
                data.putInt(descriptors + 20 * d, lookup).putInt(descriptors + 20 * d + 12, data.string(dll.getKey()));
                d++;
            }
            return descriptors;
        }

        /** The resource tree: type 16 (version, id 1) and type 24 (manifest, id 2), one language each. */
        private int resources(Section data) {
            Map<Integer, byte[]> types = new TreeMap<>();
            if (fileVersion != null) {
                types.put(16, versionResource(fileVersion));
            }
            if (manifest != null) {
                types.put(24, utf16 ? ("\uFEFF" + manifest).getBytes(StandardCharsets.UTF_16LE)
                        : manifest.getBytes(StandardCharsets.UTF_8));
            }
            if (types.isEmpty()) {
                return 0;
            }
            int root = data.reserve(16 + 8 * types.size());
            data.putShort(root + 14, types.size());
            int i = 0;
            for (Map.Entry<Integer, byte[]> type : types.entrySet()) {
                int ids = data.reserve(24);
                int languages = data.reserve(24);
                int entry = data.reserve(16);
                int bytes = data.bytes(type.getValue());
                data.putInt(root + 16 + 8 * i, type.getKey()).putInt(root + 20 + 8 * i, (ids - root) | 0x80000000);
                data.putShort(ids + 14, 1).putInt(ids + 16, type.getKey() == 24 ? manifestId : 1)
                        .putInt(ids + 20, (languages - root) | 0x80000000);
                data.putShort(languages + 14, 1).putInt(languages + 16, 1033).putInt(languages + 20, entry - root);
                data.putInt(entry, bytes).putInt(entry + 4, type.getValue().length);
                i++;
            }
            return root;
        }
    }

    /** The strings of a version resource as windres lays each out: key, NUL, padding to four bytes, value, NUL. */
    static byte[] versionResource(String fileVersion) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (String[] pair : new String[][] {{"CompanyName", "x"}, {"FileVersion", fileVersion}, {"BuildDate", "2026-12-09"}}) {
            byte[] key = (pair[0] + "\0").getBytes(StandardCharsets.UTF_16LE);
            out.write(new byte[6], 0, 6);
            out.write(key, 0, key.length);
            while (out.size() % 4 != 0) {
                out.write(0);
            }
            byte[] value = (pair[1] + "\0").getBytes(StandardCharsets.UTF_16LE);
            out.write(value, 0, value.length);
            while (out.size() % 4 != 0) {
                out.write(0);
            }
        }
        return out.toByteArray();
    }

    /** A section's bytes as they are laid out, each piece at a relative virtual address. */
    private static final class Section {
        private final ByteBuffer buffer = ByteBuffer.allocate(8 << 20).order(ByteOrder.LITTLE_ENDIAN);
        final int base;

        Section(int base) {
            this.base = base;
        }

        int rva() {
            return base + buffer.position();
        }

        byte[] array() {
            return java.util.Arrays.copyOf(buffer.array(), buffer.position());
        }

        /** Its bytes up to the last that is not zero, and one zero after it, which ends a string. */
        byte[] trimmed() {
            int end = buffer.position();
            while (end > 0 && buffer.get(end - 1) == 0) {
                end--;
            }
            return java.util.Arrays.copyOf(buffer.array(), end + 1);
        }

        int bytes(byte[] bytes) {
            int rva = rva();
            buffer.put(bytes);
            buffer.position((buffer.position() + 3) & ~3);
            return rva;
        }

        int reserve(int size) {
            int rva = rva();
            buffer.position((buffer.position() + size + 3) & ~3);
            return rva;
        }

        int string(String text) {
            return bytes((text + "\0").getBytes(StandardCharsets.ISO_8859_1));
        }

        Section putInt(int rva, int value) {
            buffer.putInt(rva - base, value);
            return this;
        }

        Section putShort(int rva, int value) {
            buffer.putShort(rva - base, (short) value);
            return this;
        }

        Section putLong(int rva, long value) {
            buffer.putLong(rva - base, value);
            return this;
        }
    }
}
