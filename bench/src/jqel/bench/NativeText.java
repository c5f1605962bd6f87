package jqel.bench;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;

/**
 * The stand-in converter's native encoding, done in Java for the mechanisms
 * that call the agent without the converter library (JNA, the foreign-function
 * API): UTF-8, with U+0000 as C0 80 and a lone surrogate in its three-byte
 * form. Decoding accepts exactly what the converter accepts and gives null for
 * anything else, as the converter does.
 *
 * The common case, text without U+0000 or lone surrogates, goes through the
 * JDK's UTF-8 coder, which copies ASCII at memory speed.
 */
public final class NativeText {
    private NativeText() {}

    /** The native bytes of {@code s}, without a terminating NUL. */
    public static byte[] bytes(String s) {
        byte[] utf8 = s.getBytes(StandardCharsets.UTF_8);
        // As many bytes as chars: ASCII, or lone surrogates that the JDK wrote
        // as '?', which a string of the bytes as ISO-8859-1 tells apart.
        if (utf8.length == s.length() && s.indexOf(0) < 0
                && s.equals(new String(utf8, StandardCharsets.ISO_8859_1))) return utf8;
        return plainUtf8(s) ? utf8 : encodeSlow(s);
    }

    /** The native bytes of {@code s} with a terminating NUL: a C string. */
    public static byte[] cString(String s) {
        byte[] b = bytes(s);
        return Arrays.copyOf(b, b.length + 1);
    }

    // True if the JDK's UTF-8 bytes of s are its native bytes: no U+0000 and
    // no surrogate that is not part of a pair.
    private static boolean plainUtf8(String s) {
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            if (c == 0) return false;
            if (Character.isHighSurrogate(c)
                    && i + 1 < s.length() && Character.isLowSurrogate(s.charAt(i + 1))) {
                i++;
            } else if (Character.isSurrogate(c)) {
                return false;
            }
        }
        return true;
    }

    private static byte[] encodeSlow(String s) {
        byte[] out = new byte[s.length() * 3];
        int n = 0;
        for (int i = 0; i < s.length(); ) {
            int cp = s.codePointAt(i);  // a lone surrogate comes back as itself
            i += Character.charCount(cp);
            if (cp == 0) {
                out[n++] = (byte) 0xC0;
                out[n++] = (byte) 0x80;
            } else if (cp < 0x80) {
                out[n++] = (byte) cp;
            } else if (cp < 0x800) {
                out[n++] = (byte) (0xC0 | (cp >> 6));
                out[n++] = (byte) (0x80 | (cp & 0x3F));
            } else if (cp < 0x10000) {
                out[n++] = (byte) (0xE0 | (cp >> 12));
                out[n++] = (byte) (0x80 | ((cp >> 6) & 0x3F));
                out[n++] = (byte) (0x80 | (cp & 0x3F));
            } else {
                out[n++] = (byte) (0xF0 | (cp >> 18));
                out[n++] = (byte) (0x80 | ((cp >> 12) & 0x3F));
                out[n++] = (byte) (0x80 | ((cp >> 6) & 0x3F));
                out[n++] = (byte) (0x80 | (cp & 0x3F));
            }
        }
        return Arrays.copyOf(out, n);
    }

    /** The string of native bytes {@code b} (no NUL among them), or null if they are not native text. */
    public static String decode(byte[] b) {
        // The JDK's decoder reads every other form as the native decoding does,
        // and turns C0 80, lone surrogates and bytes that are not UTF-8 into
        // U+FFFD; those few take the slow path, which tells them apart.
        String s = new String(b, StandardCharsets.UTF_8);
        return s.indexOf('\uFFFD') < 0 ? s : decodeSlow(b);
    }

    private static boolean continuation(byte[] b, int i) {
        return i < b.length && (b[i] & 0xC0) == 0x80;
    }

    private static String decodeSlow(byte[] b) {
        StringBuilder out = new StringBuilder(b.length);
        boolean afterLoneHigh = false;  // the last unit was a three-byte high surrogate
        for (int i = 0; i < b.length; ) {
            int c = b[i] & 0xFF;
            int cp;
            int n;
            if (c < 0x80) {
                cp = c;
                n = 1;
            } else if (c == 0xC0 && i + 1 < b.length && (b[i + 1] & 0xFF) == 0x80) {
                cp = 0;
                n = 2;
            } else if (c >= 0xC2 && c <= 0xDF && continuation(b, i + 1)) {
                cp = ((c & 0x1F) << 6) | (b[i + 1] & 0x3F);
                n = 2;
            } else if ((c & 0xF0) == 0xE0 && continuation(b, i + 1) && continuation(b, i + 2)) {
                cp = ((c & 0x0F) << 12) | ((b[i + 1] & 0x3F) << 6) | (b[i + 2] & 0x3F);
                n = 3;
                if (cp < 0x800) return null;
            } else if (c >= 0xF0 && c <= 0xF4 && continuation(b, i + 1)
                    && continuation(b, i + 2) && continuation(b, i + 3)) {
                cp = ((c & 0x07) << 18) | ((b[i + 1] & 0x3F) << 12)
                        | ((b[i + 2] & 0x3F) << 6) | (b[i + 3] & 0x3F);
                n = 4;
                if (cp < 0x10000 || cp > 0x10FFFF) return null;
            } else {
                return null;
            }
            // A surrogate pair must take its four-byte form.
            if (afterLoneHigh && Character.isLowSurrogate((char) cp) && n == 3) return null;
            afterLoneHigh = n == 3 && Character.isHighSurrogate((char) cp);
            out.appendCodePoint(cp);
            i += n;
        }
        return out.toString();
    }

    /**
     * The string of a CMA value's native bytes, as the library makes it: the
     * native text if the bytes are that; else their modified UTF-8 reading if
     * they are modified UTF-8; else one char per byte.
     */
    public static String decodeValue(byte[] b) {
        String s = decode(b);
        if (s != null) return s;
        s = decodeModifiedUtf8(b);
        return s != null ? s : new String(b, StandardCharsets.ISO_8859_1);
    }

    // Modified UTF-8 as JNI defines it, or null for other bytes.
    private static String decodeModifiedUtf8(byte[] b) {
        StringBuilder out = new StringBuilder(b.length);
        for (int i = 0; i < b.length; ) {
            int c = b[i] & 0xFF;
            if (c < 0x80) {
                out.append((char) c);
                i += 1;
            } else if ((c & 0xE0) == 0xC0 && continuation(b, i + 1)) {
                if (c < 0xC2 && !(c == 0xC0 && (b[i + 1] & 0xFF) == 0x80)) return null;
                out.append((char) (((c & 0x1F) << 6) | (b[i + 1] & 0x3F)));
                i += 2;
            } else if ((c & 0xF0) == 0xE0 && continuation(b, i + 1) && continuation(b, i + 2)) {
                if (c == 0xE0 && (b[i + 1] & 0xFF) < 0xA0) return null;
                out.append((char) (((c & 0x0F) << 12) | ((b[i + 1] & 0x3F) << 6) | (b[i + 2] & 0x3F)));
                i += 3;
            } else {
                return null;
            }
        }
        return out.toString();
    }
}
