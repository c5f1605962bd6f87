package jqel.doctor;

import java.util.Arrays;
import java.util.Locale;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * The identity of a side-by-side assembly, such as the Visual C++ 2005
 * runtime Microsoft.VC80.CRT, as a manifest's assemblyIdentity writes it or
 * a WinSxS folder's name encodes it, compared as Windows compares
 * identities: names, types, tokens, architectures and languages without
 * case, versions part by part as numbers.
 */
final class Assembly {
    /** The DLLs of the C runtimes of Visual C++ 2005 and 2008, release and debug. */
    private static final Pattern RUNTIME = Pattern.compile("msvc[rpm](80|90)(d?)\\.dll");

    final String name;
    final String type;
    final String version;
    final String architecture;
    final String token;
    /** The culture; "" for a neutral one ("none" or "x-ww" in a folder's name, "*" in a manifest). */
    final String language;

    Assembly(String name, String type, String version, String architecture, String token, String language) {
        this.name = name;
        this.type = type;
        this.version = version;
        this.architecture = architecture;
        this.token = token;
        this.language = language.equals("*") || language.equalsIgnoreCase("none") || language.equalsIgnoreCase("x-ww")
                ? "" : language;
    }

    /**
     * The assembly a WinSxS folder holds, from its name
     * {@code <architecture>_<name>_<token>_<version>_<culture>_<hash>}, or
     * null for a name of another form. (Windows shortens the longest names
     * with ".."; no runtime this library meets has one.)
     */
    static Assembly ofFolder(String folder) {
        String[] parts = folder.split("_");
        if (parts.length < 6) {
            return null;
        }
        int n = parts.length;
        String name = String.join("_", Arrays.copyOfRange(parts, 1, n - 4));
        return new Assembly(name, "win32", parts[n - 3], parts[0], parts[n - 4], parts[n - 2]);
    }

    /** The same assembly at another version. */
    Assembly at(String otherVersion) {
        return new Assembly(name, type, otherVersion, architecture, token, language);
    }

    /**
     * Whether {@code found} is this assembly, with {@code architecture} "*"
     * standing for the process's ({@code processArchitecture}); the type
     * counts where both say one (a WinSxS folder's name does not).
     */
    boolean matches(Assembly found, String processArchitecture) {
        return name.equalsIgnoreCase(found.name) && token.equalsIgnoreCase(found.token)
                && architecture(processArchitecture).equalsIgnoreCase(found.architecture)
                && language.equalsIgnoreCase(found.language) && compare(version, found.version) == 0
                && (type.isEmpty() || found.type.isEmpty() || type.equalsIgnoreCase(found.type));
    }

    /** Its processorArchitecture, "*" read as the process's. */
    String architecture(String processArchitecture) {
        return architecture.equals("*") ? processArchitecture : architecture;
    }

    /**
     * The assembly whose DLL this is, for the C runtimes of Visual C++ 2005
     * and 2008 (msvcr80.dll is Microsoft.VC80.CRT's, msvcr90d.dll
     * Microsoft.VC90.DebugCRT's), which load only through a manifest; null
     * for any other DLL.
     */
    static String runtimeOf(String dll) {
        Matcher runtime = RUNTIME.matcher(dll.toLowerCase(Locale.ROOT));
        return runtime.matches() ? "Microsoft.VC" + runtime.group(1) + (runtime.group(2).isEmpty() ? ".CRT" : ".DebugCRT")
                : null;
    }

    /** A debug runtime (Microsoft.VC80.DebugCRT and the like), which only Visual Studio installs. */
    boolean debugRuntime() {
        return debugRuntime(name);
    }

    static boolean debugRuntime(String name) {
        return name.toLowerCase(Locale.ROOT).matches("microsoft\\.vc[0-9]+\\.debug.*");
    }

    /** "Microsoft.VC80.CRT, x86, public key token 1fc8b3b9a1e18e3b, version 8.0.50727.762". */
    String describe() {
        return name + ", " + architecture + ", public key token " + token + ", version " + version;
    }

    /** The package that installs this assembly, as a remedy names it, for a process of {@code processArchitecture}. */
    String installer(String processArchitecture) {
        String arch = architecture(processArchitecture);
        if (name.equalsIgnoreCase("Microsoft.VC80.CRT")) {
            return "the Microsoft Visual C++ 2005 SP1 Redistributable Package (" + arch + "), " + version
                    + " or later" + (arch.equalsIgnoreCase("x86") ? ", also on 64-bit Windows" : "");
        }
        return "the redistributable package that provides it for " + arch;
    }

    /** Compares dotted versions part by part, as numbers; a part that is no number counts as -1. */
    static int compare(String a, String b) {
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
