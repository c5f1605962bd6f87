package com.brenn.varnis.tq.api.jqel;

import java.util.ArrayList;
import java.util.List;

/**
 * How a JVM reads a library search path, {@code java.library.path} or
 * {@code sun.boot.library.path}, into the folders {@code System.loadLibrary}
 * looks in. Each release reads it its own way: on Windows, Java 9 and later
 * strip double quotes (a separator inside them does not split), Java 8 keeps
 * them; an empty entry is the current folder in both.
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

    /** The entries of a search path as written, split as a JVM of {@code release} splits it. */
    static List<String> entries(String path, boolean windows, int release) {
        List<String> entries = new ArrayList<>();
        if (path == null || path.isEmpty()) {
            return entries;
        }
        char separator = windows ? ';' : ':';
        boolean quotes = windows && release >= 9;
        boolean inside = false;
        int start = 0;
        for (int i = 0; i <= path.length(); i++) {
            char c = i < path.length() ? path.charAt(i) : separator;
            if (c == '"' && quotes) {
                inside = !inside;
            } else if (c == separator && !inside) {
                entries.add(path.substring(start, i));
                start = i + 1;
            }
        }
        return entries;
    }

    /** The folder an entry names, as a JVM of {@code release} reads it: an empty entry is ".". */
    static String folder(String entry, boolean windows, int release) {
        String folder = windows && release >= 9 ? entry.replace("\"", "") : entry;
        return folder.isEmpty() ? "." : folder;
    }
}
