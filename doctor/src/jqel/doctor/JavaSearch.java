package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.List;

/**
 * The library file as JQelLibrary loads it: by the full path that
 * jqel.library names, or by name as System.loadLibrary searches,
 * sun.boot.library.path (the JVM's own folder) first, then
 * java.library.path, stopping at the first file of the name. Each entry is
 * read as the JVM's release reads it (LibraryPath, which the loader's debug
 * report shares). A library in the current folder, which Java does not
 * search unless the path names it, is noted: a deployer who runs the
 * program in the release's folder may take it to be found there.
 */
final class JavaSearch {
    /** A folder looked in, as written and as read, and what was there. */
    static final class Looked {
        final String entry;
        final Place place;
        final String state;

        Looked(String entry, Place place, String state) {
            this.entry = entry;
            this.place = place;
            this.state = state;
        }
    }

    final List<Looked> looked = new ArrayList<>();
    /** The file the JVM takes, and where from; null when none. */
    File found;
    Place place;
    /** A copy on java.library.path that the one in the JVM's own folder comes before. */
    File shadowed;
    /** An entry of java.library.path that keeps its quotes, whose folder holds the library. */
    String quoted;
    /** What is wrong with jqel.library as given, or null. */
    String propertyProblem;
    /** The library in the current folder, where Java's search does not look; null when it does, or there is none. */
    File inCurrentFolder;

    JavaSearch(Host host) {
        if (!host.libraryProperty.isEmpty()) {
            File file = host.files.path(host.libraryProperty);
            if (!file.isAbsolute()) {
                propertyProblem = "jqel.library is not a full path: " + file;
            } else if (file.isDirectory()) {
                propertyProblem = "jqel.library names " + file + ", which is a folder, not the library";
            } else if (!file.exists()) {
                propertyProblem = "jqel.library names " + file + ", which does not exist";
            } else {
                found = file;
                place = new Place(file.getParentFile(), Place.Rule.JQEL_LIBRARY, "");
            }
            return;
        }
        String name = host.libraryFileName();
        look(host, host.bootLibraryPath, Place.Rule.BOOT_PATH, name);
        look(host, host.libraryPath, Place.Rule.LIBRARY_PATH, name);
        File current = host.files.find(host.files.path(host.currentFolder.getPath()), name);
        if (current != null && !lookedIn(current.getParentFile())) {
            inCurrentFolder = current;
        }
    }

    private boolean lookedIn(File folder) {
        File canonical = Loader.canonical(folder);
        for (Looked each : looked) {
            if (Loader.canonical(each.place.folder).equals(canonical)) {
                return true;
            }
        }
        return false;
    }

    private void look(Host host, String path, Place.Rule rule, String name) {
        List<String> entries = LibraryPath.entries(path, host.windows, host.javaRelease);
        List<String> folders = LibraryPath.folders(path, host.windows, host.javaRelease);
        for (int i = 0; i < entries.size(); i++) {
            String entry = entries.get(i);
            // Java 8 reads an empty last entry as "", which File takes as the root folder.
            File written = host.files.path(folders.get(i));
            File folder = written.isAbsolute() || folders.get(i).isEmpty() ? written : new File(host.currentFolder, folders.get(i));
            File file = host.files.path(new File(folder, name).getPath());
            Place here = new Place(file.getParentFile(), rule, "");
            boolean exists = file.exists();
            looked.add(new Looked(entry, here, exists ? (found == null ? "found" : "found, but comes later")
                    : here.folder.isDirectory() ? "not there" : "no such folder"));
            if (exists && found == null) {
                found = file;
                place = here;
            } else if (exists && shadowed == null && place.rule == Place.Rule.BOOT_PATH && rule == Place.Rule.LIBRARY_PATH) {
                shadowed = file;
            } else if (!exists && entry.length() > 2 && entry.startsWith("\"") && entry.endsWith("\"") && quoted == null
                    && host.files.path(new File(entry.substring(1, entry.length() - 1), name).getPath()).exists()) {
                quoted = entry;
            }
        }
    }
}
