package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Locale;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * A side-by-side assembly that a DLL's manifest depends on, such as the
 * Visual C++ 2005 runtime Microsoft.VC80.CRT, and where Windows keeps it.
 */
final class Assembly {
    private static final Pattern DEPENDENCY = Pattern.compile(
            "<(?:\\w+:)?dependentAssembly\\b[^>]*>(.*?)</(?:\\w+:)?dependentAssembly\\s*>", Pattern.DOTALL);
    private static final Pattern IDENTITY = Pattern.compile("<(?:\\w+:)?assemblyIdentity\\b([^>]*)>");
    private static final Pattern ATTRIBUTE = Pattern.compile("([\\w:]+)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')");

    final String name;
    final String architecture;
    final String token;
    final String version;

    private Assembly(String name, String architecture, String token, String version) {
        this.name = name;
        this.architecture = architecture;
        this.token = token;
        this.version = version;
    }

    /** The assemblies a manifest's dependentAssembly elements name, in its order. */
    static List<Assembly> dependencies(String manifest) {
        List<Assembly> assemblies = new ArrayList<>();
        Matcher dependency = DEPENDENCY.matcher(manifest);
        while (dependency.find()) {
            Matcher identity = IDENTITY.matcher(dependency.group(1));
            if (identity.find()) {
                String attributes = identity.group(1);
                assemblies.add(new Assembly(attribute(attributes, "name"), attribute(attributes, "processorArchitecture"),
                        attribute(attributes, "publicKeyToken"), attribute(attributes, "version")));
            }
        }
        return assemblies;
    }

    private static String attribute(String attributes, String name) {
        Matcher attribute = ATTRIBUTE.matcher(attributes);
        while (attribute.find()) {
            if (attribute.group(1).equals(name)) {
                return attribute.group(2) != null ? attribute.group(2) : attribute.group(3);
            }
        }
        return "";
    }

    /** "Microsoft.VC80.CRT, x86, public key token 1fc8b3b9a1e18e3b, version 8.0.50727.762". */
    String describe() {
        return name + ", " + architecture + ", public key token " + token + ", version " + version;
    }

    /**
     * The folder of WinSxS that holds this assembly, or null. Windows names
     * it {@code <architecture>_<name>_<token>_<version>_<culture>_<hash>},
     * in lower case since Vista. An update of a runtime installs its later
     * version with a publisher policy (a folder {@code
     * <architecture>_policy.<major>.<minor>.<name>_<token>_...}) that sends
     * requests for earlier versions to it; so a later version of the same
     * major.minor counts when such a policy is installed. The policy's own
     * version ranges are not read.
     */
    File find(File winSxS) {
        String[] entries = winSxS.list();
        if (entries == null) {
            return null;
        }
        String prefix = (architecture + "_" + name + "_" + token + "_").toLowerCase(Locale.ROOT);
        String[] parts = version.split("\\.");
        String policy = parts.length < 2 ? null : (architecture + "_policy." + parts[0] + "." + parts[1] + "."
                + name + "_" + token + "_").toLowerCase(Locale.ROOT);
        boolean hasPolicy = false;
        File exact = null;
        File later = null;
        String laterVersion = version;
        for (String entry : entries) {
            String lower = entry.toLowerCase(Locale.ROOT);
            hasPolicy |= policy != null && lower.startsWith(policy);
            if (!lower.startsWith(prefix) || !new File(winSxS, entry).isDirectory()) {
                continue;
            }
            String found = lower.substring(prefix.length()).split("_", 2)[0];
            if (found.equals(version)) {
                exact = new File(winSxS, entry);
            } else if (sameMajorMinor(found) && compare(found, laterVersion) > 0) {
                later = new File(winSxS, entry);
                laterVersion = found;
            }
        }
        return exact != null ? exact : hasPolicy ? later : null;
    }

    /**
     * A private assembly of this identity in {@code folder}, probed in the
     * order of Microsoft's "Assembly Searching Sequence" for an assembly
     * without a culture: {@code <name>.dll} and {@code <name>.manifest} in the
     * folder, then in its subfolder {@code <name>}. Returns the folder that
     * holds its files, or null. A manifest file that names another version
     * or architecture does not count (the one embedded in a DLL is not
     * compared).
     */
    File findPrivate(File folder) {
        for (File base : new File[] {folder, new File(folder, name)}) {
            if (new File(base, name + ".dll").isFile()) {
                return base;
            }
            File manifest = new File(base, name + ".manifest");
            if (manifest.isFile() && matches(manifest)) {
                return base;
            }
        }
        return null;
    }

    private boolean matches(File manifest) {
        String text;
        try {
            if (manifest.length() > 1 << 20) {
                return false;
            }
            text = new String(java.nio.file.Files.readAllBytes(manifest.toPath()), java.nio.charset.StandardCharsets.UTF_8);
        } catch (java.io.IOException | RuntimeException e) {
            return false;
        }
        Matcher identity = IDENTITY.matcher(text);
        return identity.find() && attribute(identity.group(1), "version").equals(version)
                && attribute(identity.group(1), "processorArchitecture").equalsIgnoreCase(architecture);
    }

    /**
     * The folders of WinSxS that hold this assembly built for another
     * processor architecture (amd64 beside a missing x86, say), which
     * Windows passes over.
     */
    List<File> otherArchitectures(File winSxS) {
        List<File> found = new ArrayList<>();
        String[] entries = winSxS.list();
        String rest = ("_" + name + "_" + token + "_").toLowerCase(Locale.ROOT);
        for (int i = 0; entries != null && i < entries.length; i++) {
            String lower = entries[i].toLowerCase(Locale.ROOT);
            int end = lower.indexOf('_');
            if (end > 0 && lower.startsWith(rest, end) && !lower.substring(0, end).equals(architecture.toLowerCase(Locale.ROOT))
                    && new File(winSxS, entries[i]).isDirectory()) {
                found.add(new File(winSxS, entries[i]));
            }
        }
        Collections.sort(found);
        return found;
    }

    /** The package that installs this assembly, as a remedy names it. */
    String installer() {
        if (name.equalsIgnoreCase("Microsoft.VC80.CRT")) {
            return "the Microsoft Visual C++ 2005 SP1 Redistributable Package (" + architecture + "), " + version
                    + " or later" + (architecture.equalsIgnoreCase("x86") ? ", also on 64-bit Windows" : "");
        }
        return "the redistributable package that provides it for " + architecture;
    }

    private boolean sameMajorMinor(String other) {
        String[] mine = version.split("\\.");
        String[] theirs = other.split("\\.");
        return mine.length >= 2 && theirs.length >= 2 && mine[0].equals(theirs[0]) && mine[1].equals(theirs[1]);
    }

    /** Compares dotted versions part by part, as numbers. */
    private static int compare(String a, String b) {
        String[] x = a.split("\\.");
        String[] y = b.split("\\.");
        for (int i = 0; i < Math.max(x.length, y.length); i++) {
            long difference = number(x, i) - number(y, i);
            if (difference != 0) {
                return difference > 0 ? 1 : -1;
            }
        }
        return 0;
    }

    private static long number(String[] parts, int i) {
        try {
            return i < parts.length ? Long.parseLong(parts[i]) : 0;
        } catch (NumberFormatException e) {
            return -1;
        }
    }
}
