package jqel.doctor;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * Where Windows finds an assembly that a DLL's manifest names, as
 * Microsoft's "Assembly Searching Sequence" and "Publisher Configuration"
 * give it: a publisher policy in WinSxS for the assembly's major.minor,
 * the highest version of it, sends the version asked for to another first;
 * then that version is looked for in WinSxS, then as a private assembly in
 * the DLL's own folder, which stands for the application's.
 */
final class SideBySide {
    /** The largest manifest or policy file read. */
    private static final long MAX_MANIFEST = 1 << 20;

    private final FileView files;
    private final File winSxS;
    /** The process's processorArchitecture, for which "*" stands. */
    final String architecture;

    SideBySide(FileView files, File windowsFolder, String architecture) {
        this.files = files;
        this.winSxS = windowsFolder == null ? null : new File(windowsFolder, "WinSxS");
        this.architecture = architecture;
    }

    /** The WinSxS folder, or null when the Windows folder is not known. */
    File winSxS() {
        return winSxS;
    }

    /** Resolves one assembly a manifest names, into {@code use}; {@code privateFolder} is where private ones lie. */
    void resolve(Node.Use use, File privateFolder) {
        Assembly wanted = use.assembly;
        redirect(use);
        use.folder = shared(wanted.at(use.version));
        use.how = "WinSxS";
        if (use.folder == null && privateFolder != null) {
            use.folder = findPrivate(wanted.at(use.version), privateFolder);
            use.how = "a private assembly";
        }
        if (use.folder == null && use.policy != null) {
            use.ownVersion = shared(wanted);
        }
        if (use.folder == null) {
            for (String entry : entries()) {
                Assembly found = Assembly.ofFolder(entry);
                if (found != null && found.name.equalsIgnoreCase(wanted.name) && found.token.equalsIgnoreCase(wanted.token)
                        && !found.architecture.equalsIgnoreCase(wanted.architecture(architecture))) {
                    use.otherArchitectures.add(new File(winSxS, entry));
                }
            }
        }
    }

    /** The version a publisher policy sends the wanted one to, set into {@code use} with the policy. */
    private void redirect(Node.Use use) {
        Assembly wanted = use.assembly;
        String[] parts = wanted.version.split("\\.");
        if (parts.length < 2) {
            return;
        }
        String policyName = "policy." + parts[0] + "." + parts[1] + "." + wanted.name;
        File policy = null;
        String policyVersion = null;
        for (String entry : entries()) {
            Assembly found = Assembly.ofFolder(entry);
            if (found != null && found.name.equalsIgnoreCase(policyName) && found.token.equalsIgnoreCase(wanted.token)
                    && found.architecture.equalsIgnoreCase(wanted.architecture(architecture))
                    && (policyVersion == null || Assembly.compare(found.version, policyVersion) > 0)
                    && policy(new File(winSxS, entry)) != null) {
                policy = new File(winSxS, entry);
                policyVersion = found.version;
            }
        }
        Manifest manifest = policy == null ? null : policy(policy);
        for (int i = 0; manifest != null && i < manifest.redirects.size(); i++) {
            Manifest.Redirect redirect = manifest.redirects.get(i);
            if (redirect.of.name.equalsIgnoreCase(wanted.name) && redirect.of.token.equalsIgnoreCase(wanted.token)
                    && redirect.covers(wanted.version)) {
                use.version = redirect.to;
                use.policy = policy;
                return;
            }
        }
    }

    /** The publisher policy a policy folder holds (its .policy file), or null if it holds none that parses. */
    private Manifest policy(File folder) {
        for (String name : files.list(folder)) {
            if (name.toLowerCase(Locale.ROOT).endsWith(".policy")) {
                try {
                    return Manifest.parse(read(new File(folder, name)));
                } catch (IOException | Manifest.Malformed e) {
                    // Windows installs no policy it cannot read: the next one, if any.
                }
            }
        }
        return null;
    }

    /** The folder of WinSxS that holds this assembly, or null. */
    File shared(Assembly wanted) {
        for (String entry : entries()) {
            Assembly found = Assembly.ofFolder(entry);
            if (found != null && wanted.matches(found, architecture) && new File(winSxS, entry).isDirectory()) {
                return new File(winSxS, entry);
            }
        }
        return null;
    }

    /**
     * A private assembly of this identity in {@code folder}, probed in the
     * order of "Assembly Searching Sequence" for an assembly without a
     * culture: {@code <name>.dll} (its manifest the DLL's resource 1) and
     * {@code <name>.manifest} in the folder, then in its subfolder
     * {@code <name>}. The folder that holds it, or null. One that is another
     * assembly (another version, say) does not count.
     */
    private File findPrivate(Assembly wanted, File folder) {
        for (File base : new File[] {folder, new File(folder, wanted.name)}) {
            File dll = files.find(base, wanted.name + ".dll");
            File manifest = files.find(base, wanted.name + ".manifest");
            if (dll != null && is(wanted, embedded(dll)) || manifest != null && is(wanted, manifest(manifest))) {
                return base;
            }
        }
        return null;
    }

    private boolean is(Assembly wanted, Manifest manifest) {
        return manifest != null && manifest.identity != null && wanted.matches(manifest.identity, architecture);
    }

    private static Manifest embedded(File dll) {
        try {
            byte[] bytes = Image.read(dll, true).manifests.get(1);
            return bytes == null ? null : Manifest.parse(bytes);
        } catch (BadFile | Manifest.Malformed e) {
            return null;
        }
    }

    private static Manifest manifest(File file) {
        try {
            return Manifest.parse(read(file));
        } catch (IOException | Manifest.Malformed e) {
            return null;
        }
    }

    private static byte[] read(File file) throws IOException {
        if (file.length() > MAX_MANIFEST) {
            throw new IOException(file + " is too large for a manifest");
        }
        return Files.readAllBytes(file.toPath());
    }

    private List<String> entries() {
        return winSxS == null ? new ArrayList<String>() : files.list(winSxS);
    }
}
