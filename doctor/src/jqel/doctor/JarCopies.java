package jqel.doctor;

import java.io.File;
import java.io.IOException;
import java.nio.file.DirectoryIteratorException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * The copies of the library that a jar on the class path carries (the
 * Maven artifact jqel-native), which JQelLibrary loads when no folder holds
 * the library: the folder they go into for this JVM and user, the copies
 * there with their versions, and whether the loader would refuse a folder,
 * each by the loader's own rules (CarriedLibrary and LibraryFile, compiled
 * into the doctor). Nothing is copied, made or loaded.
 */
final class JarCopies {
    /** A copy there: its file, the version it records (or null), and why the loader refuses its folder (or null). */
    static final class Copy {
        final File file;
        final String version;
        final String refusal;

        Copy(File file, String version, String refusal) {
            this.file = file;
            this.version = version;
            this.refusal = refusal;
        }
    }

    final File folder;
    final boolean named;
    /** The platform as jqel-native's classifiers name it; null where no jar carries the library for it. */
    final String platform;
    final boolean exists;
    /** Why the loader would refuse the folder, or null. */
    final String refusal;
    final List<Copy> copies = new ArrayList<>();
    /** Why the folder cannot be listed, or null. */
    String unlisted;

    JarCopies(Host host) {
        folder = host.copyFolder;
        named = host.copyFolderNamed;
        platform = host.platform;
        exists = folder.isDirectory();
        refusal = exists ? refusal(folder, host.user) : folder.exists() ? folder + " is not a folder" : null;
        for (String label : exists ? list() : new ArrayList<String>()) {
            File file = new File(new File(folder, label), host.libraryFileName());
            if (file.isFile()) {
                copies.add(new Copy(file, LibraryFile.version(file), refusal(file.getParentFile(), host.user)));
            }
        }
    }

    /**
     * The folder's names, sorted; none, with the reason in {@link
     * #unlisted}, when it cannot be listed. A 32-bit JVM on a 64-bit kernel
     * may fail to list a folder whose entries have 64-bit inode numbers
     * ("Value too large for defined data type").
     */
    private List<String> list() {
        List<String> names = new ArrayList<>();
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(folder.toPath())) {
            for (Path entry : entries) {
                names.add(entry.getFileName().toString());
            }
        } catch (IOException | DirectoryIteratorException e) {
            Throwable cause = e instanceof DirectoryIteratorException ? e.getCause() : e;
            String reason = cause instanceof FileSystemException ? ((FileSystemException) cause).getReason() : null;
            unlisted = reason != null ? reason : String.valueOf(cause.getMessage());
            names.clear();
        }
        Collections.sort(names);
        return names;
    }

    /** The jar that carries the library for this platform, as the release's Maven folder names it. */
    String jar() {
        return "jqel-native-" + Version.VERSION + "-" + platform + ".jar";
    }

    /** Why the loader refuses a folder that exists, or null: as CarriedLibrary judges it, its failure to judge included. */
    private static String refusal(File folder, String user) {
        try {
            return CarriedLibrary.refusal(folder.toPath(), user);
        } catch (IOException | RuntimeException e) {
            return folder + " cannot be judged: " + e.getMessage();
        }
    }
}
