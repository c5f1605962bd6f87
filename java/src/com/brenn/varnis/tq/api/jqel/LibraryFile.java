package com.brenn.varnis.tq.api.jqel;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;

/**
 * What a library file records of itself, and how its bytes are read and
 * hashed. Our Linux library carries its version as the string
 * "@(#)JQelAgtMsg 1.0.0", as what(1) finds it; the DLL carries it in its
 * version resource, as the UTF-16 value of the key "FileVersion". The
 * loading doctor compiles it too (see {@link CarriedLibrary}).
 */
final class LibraryFile {
    /** No library of ours comes near this; a file past it is not read whole. */
    private static final int MAX_SIZE = 64 << 20;

    /** The file is scanned in windows of this many bytes, the last TAIL of each kept for the next. */
    private static final int WINDOW = 1 << 16;

    /** More than a mark and its value ever take: a mark that starts before the last TAIL bytes ends in the window. */
    private static final int TAIL = 512;

    private static final byte[] LINUX_MARK = "@(#)JQelAgtMsg ".getBytes(StandardCharsets.US_ASCII);
    private static final byte[] WINDOWS_MARK = "FileVersion\0".getBytes(StandardCharsets.UTF_16LE);

    private LibraryFile() {}

    /**
     * The version {@code file} records, or null if it records none or cannot
     * be read. It is read a window at a time, so that a large file costs no
     * more heap than a small one.
     */
    static String version(File file) {
        try (InputStream in = new FileInputStream(file)) {
            byte[] window = new byte[WINDOW];
            int length = 0;
            while (true) {
                int read = fill(in, window, length);
                length += read;
                boolean end = length < window.length;
                String[] found = find(window, end ? length : length - TAIL, length);
                if (found != null || end) {
                    return found == null ? null : found[0];
                }
                // Keeps an even number of bytes, so that UTF-16 stays aligned to the file.
                System.arraycopy(window, length - TAIL, window, 0, TAIL);
                length = TAIL;
            }
        } catch (IOException e) {
            return null;
        }
    }

    /** The version that a library's bytes record, or null if they record none. */
    static String version(byte[] bytes) {
        String[] found = find(bytes, bytes.length, bytes.length);
        return found == null ? null : found[0];
    }

    /**
     * The version after the first mark that starts below {@code before} in
     * {@code bytes[0, length)}, as a one-element array whose element is null
     * for a mark with no value; null if no mark starts there. Our Linux
     * library's is ASCII up to a NUL, a blank or a control character; a
     * version resource's string is the key, its NUL, NULs up to a four-byte
     * boundary, then the value up to its NUL, all UTF-16LE, at an even
     * offset.
     */
    private static String[] find(byte[] bytes, int before, int length) {
        for (int i = 0; i < before; i++) {
            if (startsWith(bytes, i, length, LINUX_MARK)) {
                int start = i + LINUX_MARK.length;
                int end = start;
                while (end < length && (bytes[end] & 0xFF) > 0x20 && bytes[end] != 0x7F) {
                    end++;
                }
                return new String[] {end > start ? new String(bytes, start, end - start, StandardCharsets.US_ASCII) : null};
            }
            if (i % 2 == 0 && startsWith(bytes, i, length, WINDOWS_MARK)) {
                int start = i + WINDOWS_MARK.length;
                while (start + 1 < length && bytes[start] == 0 && bytes[start + 1] == 0) {
                    start += 2;
                }
                int end = start;
                while (end + 1 < length && (bytes[end] != 0 || bytes[end + 1] != 0)) {
                    end += 2;
                }
                return new String[] {end > start ? new String(bytes, start, end - start, StandardCharsets.UTF_16LE) : null};
            }
        }
        return null;
    }

    private static boolean startsWith(byte[] bytes, int at, int length, byte[] mark) {
        if (at + mark.length > length) {
            return false;
        }
        for (int j = 0; j < mark.length; j++) {
            if (bytes[at + j] != mark[j]) {
                return false;
            }
        }
        return true;
    }

    /** Reads into {@code buffer} from {@code offset} until it is full or the stream ends; the bytes read. */
    private static int fill(InputStream in, byte[] buffer, int offset) throws IOException {
        int total = 0;
        for (int n; offset + total < buffer.length && (n = in.read(buffer, offset + total, buffer.length - offset - total)) > 0; ) {
            total += n;
        }
        return total;
    }

    /** All of {@code in}, up to {@link #MAX_SIZE}; throws if there is more. */
    static byte[] read(InputStream in) throws IOException {
        ByteArrayOutputStream all = new ByteArrayOutputStream(1 << 16);
        byte[] buffer = new byte[1 << 16];
        for (int n; (n = in.read(buffer)) > 0; ) {
            if (all.size() > MAX_SIZE - n) {
                throw new IOException("more than " + MAX_SIZE + " bytes");
            }
            all.write(buffer, 0, n);
        }
        return all.toByteArray();
    }

    /** The SHA-256 of everything {@code in} holds, in lower-case hexadecimal. */
    static String sha256(InputStream in) throws IOException {
        MessageDigest digest = sha256();
        byte[] buffer = new byte[1 << 16];
        for (int n; (n = in.read(buffer)) > 0; ) {
            digest.update(buffer, 0, n);
        }
        return hex(digest.digest());
    }

    /** The SHA-256 of {@code bytes}, in lower-case hexadecimal. */
    static String sha256(byte[] bytes) {
        return hex(sha256().digest(bytes));
    }

    private static MessageDigest sha256() {
        try {
            return MessageDigest.getInstance("SHA-256");
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java platform has SHA-256", e);
        }
    }

    private static String hex(byte[] digest) {
        StringBuilder hex = new StringBuilder(2 * digest.length);
        for (byte b : digest) {
            hex.append(Character.forDigit((b >> 4) & 0xF, 16)).append(Character.forDigit(b & 0xF, 16));
        }
        return hex.toString();
    }
}
