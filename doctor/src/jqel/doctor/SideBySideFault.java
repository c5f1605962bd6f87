package jqel.doctor;

import java.io.File;

/**
 * The side-by-side faults of one DLL of the tree: a manifest that Windows
 * refuses, an assembly it names that is not found where a policy sends it,
 * a Debug build, and a C runtime DLL of Visual C++ 2005 or 2008 that
 * Windows must find through a manifest but that the importer's manifest
 * does not name at the resource Windows reads. No remedy puts such a DLL on
 * PATH: loaded from there, outside its assembly, the runtime refuses to
 * start (runtime error R6034).
 */
final class SideBySideFault {
    private static final String DEBUG = " is a Debug build, which needs a debug runtime that only Visual Studio installs";

    private SideBySideFault() {}

    /** The DLL's own manifest and the assemblies it names, or null when they are in order. */
    static Fault.Finding manifest(Host host, Node node) {
        if (node.malformedManifest != null) {
            return Fault.MANIFEST.found("Windows refuses to load " + Dependency.known(node) + ": the manifest inside it is"
                    + " not well-formed XML")
                    .cause("the manifest of " + node.name + " (its resource 2) is not well-formed XML ("
                    + node.malformedManifest + "): Windows refuses to load " + node.name + ", with error 14001, \"The"
                    + " application has failed to start because its side-by-side configuration is incorrect\""
                    + Dependency.below(node.importer, node.name))
                    .remedy(node.importer == null ? "copy it again from the release archive"
                            : "take " + node.name + " again from its product's installation")
                    .chain(node.chain()).files(node.file);
        }
        String arch = host.processorArchitecture();
        for (Node.Use use : node.assemblies) {
            if (use.folder != null) {
                continue;
            }
            String where = " is not in " + (host.windowsFolder == null ? "WinSxS (SystemRoot is not set)"
                    : new File(host.windowsFolder, "WinSxS")) + " nor beside it";
            String runtime = "a component that " + Dependency.known(node) + " needs is not installed: " + use.assembly.name
                    + " version " + use.version;
            if (use.assembly.debugRuntime()) {
                return Fault.DEBUG_BUILD.found(Dependency.known(node) + DEBUG)
                        .cause(node.name + " is a Debug build: its manifest names " + use.assembly.describe()
                        + ", the debug runtime, which" + where + Dependency.below(node.importer, null))
                        .remedy(releaseBuild(node)).chain(node.chain()).files(node.file);
            }
            if (use.policy != null) {
                return Fault.ASSEMBLY.found(runtime + ", which an update of it asks for in place of " + use.assembly.version)
                        .cause("the side-by-side assembly " + use.assembly.describe() + " that the manifest of "
                        + node.name + " names is sent to version " + use.version + " by the publisher policy " + use.policy
                        + ", and that version" + where + (use.ownVersion == null ? "" : "; version " + use.assembly.version
                        + " is there, at " + use.ownVersion + ", but Windows takes the policy's")
                        + Dependency.below(node.importer, null))
                        .remedy("install " + use.assembly.at(use.version).installer(arch) + ", which the policy came with")
                        .chain(node.chain()).files(node.file);
            }
            String others = Dependency.join(use.otherArchitectures);
            return Fault.ASSEMBLY.found(runtime + (others.isEmpty() ? "" : ", for " + use.assembly.architecture(arch)))
                    .cause("the side-by-side assembly " + use.assembly.describe() + " that the manifest of "
                    + node.name + " names" + where
                    + (others.isEmpty() ? "" : "; only one for another processor is there, at " + others)
                    + Dependency.below(node.importer, null))
                    .remedy("install " + use.assembly.installer(arch)).chain(node.chain()).files(node.file);
        }
        return null;
    }

    /**
     * A C runtime DLL of a side-by-side assembly (msvcr80.dll) that the
     * importer does not get through a manifest: missing, or taken from a
     * folder, where it refuses to start. Null for any other DLL, or one
     * that came from its assembly.
     */
    static Fault.Finding runtime(Host host, Node node) {
        String assembly = Assembly.runtimeOf(node.name);
        Node importer = node.importer;
        if (assembly == null || node.place != null && (node.place.rule == Place.Rule.ASSEMBLY
                || node.place.rule == Place.Rule.LOADED)) {
            return null;
        }
        for (Node.Use use : importer.assemblies) {
            if (use.assembly.name.equalsIgnoreCase(assembly)) {
                return null;
            }
        }
        String below = Dependency.below(importer, node.name);
        if (Assembly.debugRuntime(assembly)) {
            return Fault.DEBUG_BUILD.found(Dependency.known(importer) + DEBUG)
                    .cause(importer.name + " is a Debug build: it imports " + node.name + ", the debug"
                    + " runtime of " + assembly + ", which only Visual Studio installs" + below)
                    .remedy(releaseBuild(importer)).chain(node.chain()).files(importer.file, node.file);
        }
        boolean unread = false;
        for (Assembly named : importer.unreadAssemblies) {
            unread |= named.name.equalsIgnoreCase(assembly);
        }
        String why = unread ? ", but the manifest that names " + assembly + " is its resource " + importer.unreadManifest
                + ", which Windows reads " + (importer.unreadManifest == 1 ? "for a program, not for a DLL"
                : "for a DLL's isolation-aware calls, not for its imports")
                : ", but no manifest of it at resource 2 names " + assembly;
        String found = node.file == null ? ", and finds none"
                : ", and takes " + node.file + ", from where it refuses to start: runtime error R6034, \"An application has"
                + " made an attempt to load the C runtime library incorrectly\"";
        String dll = importer.name;
        String remedy = importer.importer == null ? "copy it again from the release archive"
                : unread ? "move the manifest of " + dll + " to resource 2: mt.exe -inputresource:" + dll + ";#"
                + importer.unreadManifest + " -out:" + dll + ".manifest, then mt.exe -manifest " + dll + ".manifest"
                + " -outputresource:" + dll + ";#2"
                : "take a build of " + dll + " that carries, as its resource 2, a manifest naming " + assembly;
        return Fault.MANIFEST.found(Dependency.known(importer) + " cannot use " + Dependency.known(node) + ", which Windows"
                + " loads only through a manifest that " + dll + " does not carry where Windows reads it")
                .cause(dll + " imports " + node.name + ", a DLL of the side-by-side assembly " + assembly
                + ", which Windows loads only through a manifest" + why + "; so Windows looks for " + node.name
                + " in the folders" + found + below)
                .remedy(remedy).chain(node.chain()).files(importer.file, node.file);
    }

    private static String releaseBuild(Node node) {
        return "use the Release build of " + node.name + (node.importer == null ? ", from the release archive" : "")
                + ": no redistributable package installs a debug runtime";
    }
}
