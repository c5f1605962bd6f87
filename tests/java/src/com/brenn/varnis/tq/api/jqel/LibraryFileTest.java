package com.brenn.varnis.tq.api.jqel;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import org.junit.jupiter.api.Test;

/**
 * The version that a library file records, as the loader reads it to compare
 * with the jar's: from the Linux library's "@(#)" string and the DLL's
 * version resource, laid out here byte by byte and read from the library
 * this JVM runs (the DLL itself, where a shim maps it).
 */
class LibraryFileTest {
    @Test
    void theVersionIsReadAsEachKindOfFileRecordsIt() {
        Object[][] rows = {
            {"Linux string", ascii("\u007fELF...@(#)JQelAgtMsg 1.2.3\0more"), "1.2.3"},
            {"Linux string ended by a blank", ascii("@(#)JQelAgtMsg 2.0 (x)\0"), "2.0"},
            {"another library's string", ascii("@(#)Other 1.2.3\0"), null},
            {"an empty one", ascii("@(#)JQelAgtMsg \0"), null},
            {"DLL resource, key padded to four bytes", resource("FileVersion", 1, "4.5.6"), "4.5.6"},
            {"DLL resource, no padding", resource("FileVersion", 0, "7.8"), "7.8"},
            {"DLL resource at an odd offset only", concat(new byte[] {0}, utf16("FileVersion\0\0\0009.9\0")), null},
            {"DLL resource with another key", resource("ProductVersion", 1, "1.0"), null},
            {"nothing", new byte[0], null},
        };
        for (Object[] row : rows) {
            assertEquals(row[2], LibraryFile.version((byte[]) row[1]), (String) row[0]);
        }
    }

    /** A file is read a window at a time: a mark on either side of a window's edge is found all the same. */
    @Test
    void theVersionIsFoundWhereverItLiesInALargeFile() throws IOException {
        File file = File.createTempFile("jqel", ".lib");
        file.deleteOnExit();
        for (int at : new int[] {0, 65024 - 16, 65024 - 2, 65024, 65536 - 30, 65536 - 18, 65536 - 10, 65536, 2 * 65024 + 6, 300000}) {
            for (byte[] mark : new byte[][] {ascii("@(#)JQelAgtMsg 3.2.1\0"), resource("FileVersion", 1, "3.2.1")}) {
                byte[] bytes = new byte[400000];
                System.arraycopy(mark, 0, bytes, at, mark.length);
                Files.write(file.toPath(), bytes);
                assertEquals("3.2.1", LibraryFile.version(file), "at " + at);
            }
        }
        Files.write(file.toPath(), new byte[200000]);
        assertEquals(null, LibraryFile.version(file));
    }

    @Test
    void theLibraryThisJvmRunsRecordsTheProjectsVersion() {
        String dll = System.getenv("JQEL_BRIDGE_DLL");
        File file = dll != null ? new File(dll)
                : new File(System.getProperty("java.library.path"), System.mapLibraryName("JQelAgtMsg"));
        assertEquals(System.getProperty("jqel.expected.version"), LibraryFile.version(file), file.getPath());
    }

    private static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.ISO_8859_1);
    }

    private static byte[] utf16(String s) {
        return s.getBytes(StandardCharsets.UTF_16LE);
    }

    /** A String structure of a version resource: length words, the key, NUL padding words, the value. */
    private static byte[] resource(String key, int paddingWords, String value) {
        StringBuilder padding = new StringBuilder();
        for (int i = 0; i < paddingWords; i++) padding.append('\0');
        return concat(utf16("\u0040\u0006\u0001"), utf16(key + "\0" + padding + value + "\0"), utf16("\0\0"));
    }

    private static byte[] concat(byte[]... parts) {
        ByteArrayOutputStream all = new ByteArrayOutputStream();
        for (byte[] p : parts) all.write(p, 0, p.length);
        return all.toByteArray();
    }
}
