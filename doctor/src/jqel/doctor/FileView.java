package jqel.doctor;

import java.io.File;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * The file system as the modelled system's loader sees it, through which
 * the doctor makes every look-up of its search: the file system as Java
 * sees it, which on Windows compares names as Windows does. Each look-up
 * is one, for one name: no folder is listed to find a file, so that a
 * search costs the same whatever the folders hold; a folder is listed only
 * for what the doctor must list (WinSxS, the JVM's own folders), and once.
 *
 * <p>The Windows model run elsewhere (the project's tests, on Linux) sees
 * that file system as it is: names with their case, {@code /} as the
 * separator, no File System Redirector. {@link #windows} gives the unit
 * tests Windows' own semantics instead.
 */
class FileView {
    private final Map<File, List<String>> listings = new HashMap<>();

    /**
     * Windows' semantics on a file system that has case, for the unit
     * tests: names without case, {@code \} as a separator as well as
     * {@code /}, and, for a 32-bit process on 64-bit Windows, {@code
     * System32} of the Windows folder seen as {@code SysWOW64} (the File
     * System Redirector). It lists a folder to find a name in another case.
     */
    static FileView windows(File windowsFolder, int bits) {
        return new WindowsNames(windowsFolder, bits);
    }

    /** The file or folder a path names, as the system writes paths. */
    File path(String path) {
        return new File(path);
    }

    /** The regular file called {@code name} in {@code folder}, as the system finds it, or null. */
    File find(File folder, String name) {
        File file = new File(folder, name);
        return file.isFile() ? file : null;
    }

    /** The names in a folder, sorted; none if it is no folder. */
    List<String> list(File folder) {
        List<String> names = listings.get(folder);
        if (names == null) {
            String[] found = folder.list();
            if (found == null) {
                names = Collections.emptyList();
            } else {
                Arrays.sort(found);
                names = Arrays.asList(found);
            }
            listings.put(folder, names);
        }
        return names;
    }

    /** Windows' names on a file system that has case: see {@link #windows}. */
    private static final class WindowsNames extends FileView {
        private final File windowsFolder;
        private final int bits;
        /** Each folder's names in lower case, to the name as the folder holds it. */
        private final Map<File, Map<String, String>> lowerCase = new HashMap<>();

        WindowsNames(File windowsFolder, int bits) {
            this.windowsFolder = windowsFolder;
            this.bits = bits;
        }

        @Override
        File path(String path) {
            String written = path.replace('\\', '/');
            File file = new File(written).isAbsolute() ? new File("/") : null;
            for (String part : written.split("/")) {
                if (part.isEmpty() || part.equals(".")) {
                    continue;
                }
                File exact = file == null ? new File(part) : new File(file, part);
                String held = exact.exists() || file == null ? null : names(file).get(part.toLowerCase(Locale.ROOT));
                file = held == null ? exact : new File(file, held);
            }
            return redirected(file == null ? new File(written) : file);
        }

        /** A 32-bit process on 64-bit Windows sees SysWOW64 where it names System32. */
        private File redirected(File file) {
            if (bits != 32 || windowsFolder == null) {
                return file;
            }
            File system32 = new File(windowsFolder, "System32");
            File wow64 = new File(windowsFolder, "SysWOW64");
            String path = file.getPath();
            String prefix = system32.getPath();
            if (wow64.isDirectory() && path.regionMatches(true, 0, prefix, 0, prefix.length())
                    && (path.length() == prefix.length() || path.charAt(prefix.length()) == '/')) {
                return new File(wow64.getPath() + path.substring(prefix.length()));
            }
            return file;
        }

        @Override
        File find(File folder, String name) {
            File file = super.find(folder, name);
            if (file != null) {
                return file;
            }
            String held = names(folder).get(name.toLowerCase(Locale.ROOT));
            return held == null ? null : super.find(folder, held);
        }

        private Map<String, String> names(File folder) {
            Map<String, String> names = lowerCase.get(folder);
            if (names == null) {
                names = new HashMap<>();
                for (String name : list(folder)) {
                    names.putIfAbsent(name.toLowerCase(Locale.ROOT), name);
                }
                lowerCase.put(folder, names);
            }
            return names;
        }
    }
}
