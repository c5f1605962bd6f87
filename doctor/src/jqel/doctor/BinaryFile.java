package jqel.doctor;

import java.io.Closeable;
import java.io.File;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.AccessDeniedException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.util.Arrays;

/**
 * Numbers and strings at given offsets of a file, as the headers of a
 * library lay them out. Every read is checked against the end of the file,
 * so a truncated or corrupt file gives a BadFile that says so, never a
 * runtime exception.
 */
final class BinaryFile implements Closeable {
    /** The longest name read (a library's name, a run path). */
    private static final int MAX_STRING = 4096;
    /** The largest table read at once (a symbol or string table). */
    private static final int MAX_TABLE = 64 << 20;

    private final FileChannel channel;
    private final long size;
    /** The whole file, read at once when it is no larger than {@link #MAX_TABLE}: one read, however many tables. */
    private byte[] whole;
    private ByteOrder order = ByteOrder.LITTLE_ENDIAN;

    private BinaryFile(FileChannel channel, long size) {
        this.channel = channel;
        this.size = size;
    }

    /**
     * Opens a regular file (through links) for reading. Anything else is
     * never opened: opening a named pipe would wait for a writer, and a
     * device may have effects of its own.
     */
    static BinaryFile open(File file) throws BadFile {
        FileChannel channel = null;
        try {
            Path path = file.toPath();
            BasicFileAttributes attributes = Files.readAttributes(path, BasicFileAttributes.class);
            if (attributes.isDirectory()) {
                throw new BadFile("is a folder", BadFile.Kind.NOT_A_FILE, null);
            }
            if (!attributes.isRegularFile()) {
                throw new BadFile("is no regular file, but a named pipe, a device or a socket", BadFile.Kind.NOT_A_FILE, null);
            }
            channel = FileChannel.open(path, StandardOpenOption.READ);
            BinaryFile opened = new BinaryFile(channel, channel.size());
            if (opened.size <= MAX_TABLE) {
                opened.whole = opened.read(0, (int) opened.size).array();
            }
            return opened;
        } catch (BadFile e) {
            close(channel);
            throw e;
        } catch (AccessDeniedException e) {
            close(channel);
            throw new BadFile("cannot be read: permission denied", BadFile.Kind.UNREADABLE, null);
        } catch (IOException | InvalidPathException e) {
            close(channel);
            throw new BadFile("cannot be read: " + e.getMessage(), BadFile.Kind.UNREADABLE, null);
        }
    }

    long size() {
        return size;
    }

    void bigEndian() {
        order = ByteOrder.BIG_ENDIAN;
    }

    int u8(long offset) throws BadFile {
        return read(offset, 1).get() & 0xFF;
    }

    int u16(long offset) throws BadFile {
        return read(offset, 2).getShort() & 0xFFFF;
    }

    long u32(long offset) throws BadFile {
        return read(offset, 4).getInt() & 0xFFFFFFFFL;
    }

    /** An unsigned 64-bit value; one beyond Long.MAX_VALUE comes out negative, which no read accepts. */
    long u64(long offset) throws BadFile {
        return read(offset, 8).getLong();
    }

    byte[] bytes(long offset, int length) throws BadFile {
        return read(offset, length).array();
    }

    /** A table of {@code length} bytes at offset, read at once, in the file's byte order. */
    ByteBuffer table(long offset, long length) throws BadFile {
        if (length > MAX_TABLE) {
            throw BadFile.corrupt("is corrupt: a table of " + length + " bytes at byte " + offset);
        }
        return read(offset, (int) length);
    }

    /** The NUL-terminated string at offset of a table read with {@link #table}, read as UTF-8. */
    static String string(ByteBuffer table, long offset) throws BadFile {
        for (long end = offset; end >= 0 && end < table.limit(); end++) {
            if (table.get((int) end) == 0) {
                return new String(table.array(), (int) offset, (int) (end - offset), StandardCharsets.UTF_8);
            }
        }
        throw BadFile.corrupt("is corrupt: a name at byte " + offset + " of a string table has no end");
    }

    /** The NUL-terminated string at offset, read as UTF-8: most are short, so 256 bytes are read first. */
    String string(long offset) throws BadFile {
        for (int limit = 256; ; limit = MAX_STRING) {
            int length = (int) Math.min(limit, Math.max(0, size - offset));
            byte[] bytes = bytes(offset, length);
            for (int i = 0; i < length; i++) {
                if (bytes[i] == 0) {
                    return new String(bytes, 0, i, StandardCharsets.UTF_8);
                }
            }
            if (limit == MAX_STRING || length < limit) {
                throw BadFile.corrupt("is corrupt: a name at byte " + offset + " has no end");
            }
        }
    }

    /**
     * The text after the first occurrence of {@code marker} in the first
     * {@link #MAX_TABLE} bytes, up to a NUL or a control character (what(1)
     * reads "@(#)" strings so); null if there is none.
     */
    String marked(String marker) throws BadFile {
        byte[] mark = marker.getBytes(StandardCharsets.US_ASCII);
        int chunk = 1 << 16;
        for (long at = 0; at < Math.min(size, MAX_TABLE); at += chunk - MAX_STRING) {
            int length = (int) Math.min(chunk, size - at);
            byte[] bytes = bytes(at, length);
            for (int i = 0; i + mark.length <= length; i++) {
                if (bytes[i] == mark[0] && startsWith(bytes, i, mark)) {
                    int end = i + mark.length;
                    while (end < length && end - i < MAX_STRING && (bytes[end] & 0xFF) >= 0x20) {
                        end++;
                    }
                    return new String(bytes, i + mark.length, end - i - mark.length, StandardCharsets.UTF_8);
                }
            }
            if (length < chunk) {
                break;
            }
        }
        return null;
    }

    private static boolean startsWith(byte[] bytes, int at, byte[] prefix) {
        for (int j = 0; j < prefix.length; j++) {
            if (bytes[at + j] != prefix[j]) {
                return false;
            }
        }
        return true;
    }

    private ByteBuffer read(long offset, int length) throws BadFile {
        if (offset < 0 || offset > size - length) {
            throw BadFile.corrupt("is truncated or corrupt: its headers point to byte "
                    + Long.toUnsignedString(offset) + ", but it has " + size + " bytes");
        }
        if (whole != null) {
            return ByteBuffer.wrap(Arrays.copyOfRange(whole, (int) offset, (int) offset + length)).order(order);
        }
        ByteBuffer buffer = ByteBuffer.allocate(length);
        try {
            while (buffer.hasRemaining()) {
                if (channel.read(buffer, offset + buffer.position()) < 0) {
                    throw BadFile.corrupt("is truncated: it ended while being read");
                }
            }
        } catch (IOException e) {
            throw new BadFile("cannot be read: " + e.getMessage(), BadFile.Kind.UNREADABLE, null);
        }
        buffer.flip();
        return buffer.order(order);
    }

    @Override
    public void close() {
        close(channel);
    }

    private static void close(FileChannel channel) {
        if (channel == null) {
            return;
        }
        try {
            channel.close();
        } catch (IOException e) {
            // Only read from: nothing is lost.
        }
    }
}
