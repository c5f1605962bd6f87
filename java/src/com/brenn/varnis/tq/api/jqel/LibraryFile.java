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
 * version resource, as the UTF-16 value of the key "FileVersion".
 */
final class LibraryFile {
    /** No library of ours comes near this; a file past it is not read whole. */
    private static final int MAX_SIZE = 64 << 20;

    private static final byte[] LINUX_MARK = "@(#)JQelAgtMsg ".getBytes(StandardCharsets.US_ASCII);
    private static final byte[] WINDOWS_MARK = "FileVersion\0".getBytes(StandardCharsets.UTF_16LE);

    private LibraryFile() {}

    /** The version {@code file} records, or null if it records none or cannot be read. */
    static String version(File file) {
        try (InputStream in = new FileInputStream(file)) {
            return version(read(in));
        } catch (IOException e) {
            return null;
        }
    }

    /** The version that a library's bytes record, or null if they record none. */
    static String version(byte[] bytes) {
        int at = indexOf(bytes, LINUX_MARK, 1);
        if (at >= 0) {
            int start = at + LINUX_MARK.length;
            int end = start;
            while (end < bytes.length && (bytes[end] & 0xFF) > 0x20 && bytes[end] != 0x7F) {
                end++;
            }
            return end > start ? new String(bytes, start, end - start, StandardCharsets.US_ASCII) : null;
        }
        // A version resource's string: the key, its NUL, NULs up to a
        // four-byte boundary, then the value up to its NUL, all UTF-16LE.
        at = indexOf(bytes, WINDOWS_MARK, 2);
        if (at < 0) {
            return null;
        }
        int start = at + WINDOWS_MARK.length;
        while (start + 1 < bytes.length && bytes[start] == 0 && bytes[start + 1] == 0) {
            start += 2;
        }
        int end = start;
        while (end + 1 < bytes.length && (bytes[end] != 0 || bytes[end + 1] != 0)) {
            end += 2;
        }
        return end > start ? new String(bytes, start, end - start, StandardCharsets.UTF_16LE) : null;
    }

    /** The first index, a multiple of {@code step}, at which {@code mark} starts in {@code bytes}; or -1. */
    private static int indexOf(byte[] bytes, byte[] mark, int step) {
        outer:
        for (int i = 0; i + mark.length <= bytes.length; i += step) {
            for (int j = 0; j < mark.length; j++) {
                if (bytes[i + j] != mark[j]) {
                    continue outer;
                }
            }
            return i;
        }
        return -1;
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

    /** The SHA-256 of {@code bytes}, in lower-case hexadecimal. */
    static String sha256(byte[] bytes) {
        try {
            StringBuilder hex = new StringBuilder(64);
            for (byte b : MessageDigest.getInstance("SHA-256").digest(bytes)) {
                hex.append(Character.forDigit((b >> 4) & 0xF, 16)).append(Character.forDigit(b & 0xF, 16));
            }
            return hex.toString();
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java platform has SHA-256", e);
        }
    }
}
