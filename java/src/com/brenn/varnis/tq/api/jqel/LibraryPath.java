package com.brenn.varnis.tq.api.jqel;

import java.util.ArrayList;
import java.util.List;

/**
 * How a JVM reads a library search path, {@code java.library.path} or
 * {@code sun.boot.library.path}, into the folders {@code System.loadLibrary}
 * looks in, each release as its own class library does:
 *
 * <ul>
 * <li>Java 8 splits at every separator. An empty entry is the current
 * folder, but for the last one (after a trailing separator, or the whole
 * of an empty path), which it keeps as "": {@code new File("", name)} is
 * then the file in the root folder.
 * <li>Java 9 and later read an empty entry as the current folder wherever
 * it is, an empty path too. On Windows, a separator inside double quotes
 * does not split, and the quotes are dropped; an unclosed quote runs to
 * the end. Elsewhere quotes are part of the name.
 * </ul>
 *
 * <p>The loader's debug report and the loading doctor both read paths with
 * this one source, so that they agree: it is compiled into the doctor's jar
 * too, under the doctor's package. So it uses nothing but {@code java.*}.
 */
final class LibraryPath {
    private LibraryPath() {}

    /** The Java release of a {@code java.version}: "1.8.0_504" is 8, "17.0.13" and "25" are 17 and 25. */
    static int release(String javaVersion) {
        String release = javaVersion.startsWith("1.") ? javaVersion.substring(2) : javaVersion;
        try {
            return Integer.parseInt(release.split("[^0-9]", 2)[0]);
        } catch (NumberFormatException e) {
            return 8;
        }
    }

    /**
     * The entries of a search path as written, split as a JVM of
     * {@code release} splits it: one more than its separators (outside
     * quotes, where they count), so an empty path is one empty entry.
     */
    static List<String> entries(String path, boolean windows, int release) {
        List<String> entries = new ArrayList<>();
        String text = path == null ? "" : path;
        char separator = windows ? ';' : ':';
        boolean quotes = windows && release >= 9;
        boolean inside = false;
        int start = 0;
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == '"' && quotes) {
                inside = !inside;
            } else if (c == separator && !inside) {
                entries.add(text.substring(start, i));
                start = i + 1;
            }
        }
        entries.add(text.substring(start));
        return entries;
    }

    /**
     * The folder an entry names, as a JVM of {@code release} reads it, for
     * any entry but Java 8's last (see {@link #folders}): an empty entry is
     * ".".
     */
    static String folder(String entry, boolean windows, int release) {
        String folder = windows && release >= 9 ? entry.replace("\"", "") : entry;
        return folder.isEmpty() ? "." : folder;
    }

    /** The folders of a search path, in order, exactly as a JVM of {@code release} reads them. */
    static List<String> folders(String path, boolean windows, int release) {
        List<String> entries = entries(path, windows, release);
        List<String> folders = new ArrayList<>();
        for (int i = 0; i < entries.size(); i++) {
            boolean keptEmpty = release < 9 && i == entries.size() - 1 && entries.get(i).isEmpty();
            folders.add(keptEmpty ? "" : folder(entries.get(i), windows, release));
        }
        return folders;
    }
}
