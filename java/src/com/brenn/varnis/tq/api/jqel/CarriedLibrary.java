package com.brenn.varnis.tq.api.jqel;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.net.URLConnection;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.util.Locale;
import java.util.Properties;
import java.util.Set;

/**
 * The library as a jar on the class path carries it: the Maven artifact
 * {@code jqel-native}, with a classifier per platform, holds it as the
 * resource {@code META-INF/native/jqel/<platform>/<file>}. The JVM loads a
 * library only from a file, so the loader copies it into a folder named by
 * its version and checksum, below {@code jqel.native.dir}, and loads that
 * copy by its full path. A copy already there whose bytes are the jar's is
 * taken as it is, so a second JVM reuses it; any other is replaced.
 *
 * <p>The default folder, {@code jqel-<user>} in {@code java.io.tmpdir}, may
 * lie in a folder that every user can write, as {@code /tmp} is: the copy is
 * loaded only from a folder that no one but its owner (this user, or root)
 * can write, so that no other user can put a library of theirs in its place.
 *
 * <p>The loading doctor compiles this class and {@link LibraryFile} into its
 * own jar too, under its own package, and calls {@link #platform(String,
 * String)}, {@link #folder(Properties)} and {@link #refusal} to show where
 * copies go and whether that folder would be refused, without loading or
 * copying anything. So they use nothing but {@code java.*}.
 */
final class CarriedLibrary {
    /** System property naming the folder that copies go into. */
    static final String DIR_PROPERTY = "jqel.native.dir";

    private static final Set<PosixFilePermission> OWNER_ONLY = PosixFilePermissions.fromString("rwx------");

    /** Where the copy is, and whether this load wrote it. */
    final File file;
    final boolean written;
    /** The jar's resource that was copied. */
    final URL source;

    private CarriedLibrary(File file, boolean written, URL source) {
        this.file = file;
        this.written = written;
        this.source = source;
    }

    /**
     * This platform as the classifiers of {@code jqel-native} name it
     * ({@code windows-x86}, {@code linux-x86_64}), or null where there is
     * none for it.
     */
    static String platform() {
        return platform(System.getProperty("os.name", ""), System.getProperty("os.arch", ""));
    }

    /** The platform, as {@link #platform()} names it, of a JVM whose {@code os.name} and {@code os.arch} are these. */
    static String platform(String osName, String osArch) {
        String os = osName.toLowerCase(Locale.ROOT);
        boolean windows = os.startsWith("windows");
        if (!windows && !os.equals("linux")) {
            return null;
        }
        String machine = osArch.equals("amd64") || osArch.equals("x86_64") ? (windows ? "x64" : "x86_64")
                : osArch.equals("x86") || osArch.matches("i[3-6]86") ? "x86" : null;
        return machine == null ? null : (windows ? "windows-" : "linux-") + machine;
    }

    /** The resource that carries {@code file}, the library's file name, for {@code platform}. */
    static String resource(String platform, String file) {
        return "META-INF/native/jqel/" + platform + "/" + file;
    }

    /** The folder that copies go into: {@code jqel.native.dir}, or {@code jqel-<user>} in the temporary folder. */
    static File folder() {
        return folder(System.getProperties());
    }

    /** The folder that copies go into, as {@link #folder()} says, for a JVM of these system properties. */
    static File folder(Properties properties) {
        String named = properties.getProperty(DIR_PROPERTY, "");
        if (!named.isEmpty()) {
            return new File(named);
        }
        String user = properties.getProperty("user.name", "").replaceAll("[^A-Za-z0-9._-]", "_");
        return new File(properties.getProperty("java.io.tmpdir"), "jqel-" + user);
    }

    /**
     * The copy of the library that a jar seen by {@code loader} carries for
     * this platform, as file {@code name}, made or reused as this class
     * says; null if no jar carries one.
     *
     * @throws UnsatisfiedLinkError naming the folder, if no copy can be made
     *     or the folder may be written by others
     */
    static CarriedLibrary extract(ClassLoader loader, String name) {
        String platform = platform();
        if (platform == null) {
            return null;
        }
        String resource = resource(platform, name);
        URL url = loader != null ? loader.getResource(resource) : ClassLoader.getSystemResource(resource);
        if (url == null) {
            return null;
        }
        File base = folder();
        try {
            byte[] bytes;
            URLConnection connection = url.openConnection();
            // Not the JVM's shared copy of the jar, which would keep it open
            // (and locked, on Windows) after this read.
            connection.setUseCaches(false);
            try (InputStream in = connection.getInputStream()) {
                bytes = LibraryFile.read(in);
            }
            String sum = LibraryFile.sha256(bytes);
            String version = LibraryFile.version(bytes);
            String label = (version == null ? "unversioned" : version.replaceAll("[^A-Za-z0-9._-]", "_"))
                    + "-" + sum.substring(0, 16);
            Path own = privateFolder(privateFolder(base.toPath()).resolve(label));
            Path copy = own.resolve(name);
            if (holds(copy, sum)) {
                return new CarriedLibrary(copy.toFile(), false, url);
            }
            Path partial = Files.createTempFile(own, name, ".part");
            try {
                Files.write(partial, bytes);
                Files.move(partial, copy, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
            } catch (IOException e) {
                // Another JVM may have put the same bytes there first, and
                // Windows replaces no DLL that a process has loaded.
                Files.deleteIfExists(partial);
                if (!holds(copy, sum)) {
                    throw e;
                }
            }
            return new CarriedLibrary(copy.toFile(), true, url);
        } catch (IOException | RuntimeException e) {
            UnsatisfiedLinkError error = new UnsatisfiedLinkError("cannot copy the library that " + url
                    + " carries into " + base + ": " + e.getMessage() + "; name another folder with -D"
                    + DIR_PROPERTY + "=<folder>");
            error.initCause(e);
            throw error;
        }
    }

    /** Whether {@code copy} is a regular file whose SHA-256 is {@code sum}. */
    private static boolean holds(Path copy, String sum) throws IOException {
        if (!Files.isRegularFile(copy)) {
            return false;
        }
        try (InputStream in = Files.newInputStream(copy)) {
            return LibraryFile.sha256(in).equals(sum);
        } catch (IOException e) {
            return false;
        }
    }

    /**
     * {@code folder}, made if missing, its owner's alone where the file
     * system has POSIX permissions; refused as {@link #refusal} says.
     */
    private static Path privateFolder(Path folder) throws IOException {
        FileAttribute<?>[] attributes = posix()
                ? new FileAttribute<?>[] {PosixFilePermissions.asFileAttribute(OWNER_ONLY)}
                : new FileAttribute<?>[0];
        if (!Files.isDirectory(folder)) {
            Files.createDirectories(folder, attributes);
        }
        String refused = refusal(folder, System.getProperty("user.name", ""));
        if (refused != null) {
            throw new IOException(refused);
        }
        return folder;
    }

    private static boolean posix() {
        return FileSystems.getDefault().supportedFileAttributeViews().contains("posix");
    }

    /**
     * Why a folder that exists may not hold a copy for the user {@code
     * user}, or null if it may. Where the file system has POSIX
     * permissions, one that its group or others may write is refused, and
     * one that another user than this one or root owns. Elsewhere none is.
     */
    static String refusal(Path folder, String user) throws IOException {
        if (!posix()) {
            return null;
        }
        PosixFileAttributes a = Files.getFileAttributeView(folder, PosixFileAttributeView.class).readAttributes();
        Set<PosixFilePermission> p = a.permissions();
        if (p.contains(PosixFilePermission.GROUP_WRITE) || p.contains(PosixFilePermission.OTHERS_WRITE)) {
            return folder + " may be written by users other than its owner";
        }
        UserPrincipal owner = a.owner();
        if (!owner.getName().equals("root") && !owner.equals(me(folder, user))) {
            return folder + " belongs to " + owner.getName() + ", another user";
        }
        return null;
    }

    /**
     * The user {@code user}, as the file system names owners; where it knows
     * no user of that name (a process whose user has no name, as in some
     * containers), the owner of a file this process makes there.
     */
    private static UserPrincipal me(Path folder, String user) throws IOException {
        try {
            return folder.getFileSystem().getUserPrincipalLookupService().lookupPrincipalByName(user);
        } catch (IOException e) {
            Path probe = Files.createTempFile(folder, "owner", ".probe");
            try {
                return Files.getOwner(probe);
            } finally {
                Files.delete(probe);
            }
        }
    }
}
