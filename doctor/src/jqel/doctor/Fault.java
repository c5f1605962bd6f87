package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/** The kinds of fault the diagnosis names, each with the section of DEPLOYMENT.md that explains it. */
enum Fault {
    /** Nothing the doctor checks is wrong, yet the JVM's load failed. */
    LOAD_FAILED("When loading fails"),
    /** jqel.library is no full path, names nothing, or names a folder. */
    PROPERTY("How a Java program loads it"),
    NOT_ON_PATH("The library is not in any folder of java.library.path"),
    /** A java.library.path or PATH entry in quotes that this JVM or Windows keeps. */
    QUOTED("The library is not in any folder of java.library.path"),
    /** A copy in the JVM's own folder, which Java takes before java.library.path. */
    IN_JVM_FOLDER("How a Java program loads it"),
    WRONG_SYSTEM("What must sit beside it"),
    LIBRARY_32("A 32-bit library in a 64-bit JVM"),
    LIBRARY_64("A 64-bit library in a 32-bit JVM"),
    WRONG_MACHINE("What must sit beside it"),
    BAD_LIBRARY("Deploying JQelAgtMsg"),
    UNREADABLE("Deploying JQelAgtMsg"),
    /** jqel.doctor.program names no file. */
    PROGRAM("When loading fails"),
    /** A side-by-side assembly that a manifest names is not found, or is found only where a policy does not send. */
    ASSEMBLY("What must sit beside it"),
    /** A manifest Windows refuses, or one it does not read for the DLL's imports. */
    MANIFEST("What must sit beside it"),
    /** A Debug build: its manifest names a debug runtime, which no redistributable package installs. */
    DEBUG_BUILD("What must sit beside it"),
    MISSING("A library it depends on is missing"),
    OTHER_BITNESS("A library it depends on is built for the other bitness"),
    /** Found only beside the DLL that imports it, where Windows does not look. */
    BESIDE("What must sit beside it"),
    /** Java 8 with a JDK: found only in the folder of a java.exe that may not be the one running. */
    PROGRAM_ASSUMED("A library it depends on is missing"),
    BAD_DEPENDENCY("A library it depends on is missing"),
    LACKS("A library it depends on lacks a function"),
    /** Linux: a symbol version (DT_VERNEED) that the library providing it does not define. */
    LACKS_VERSION("A library it depends on lacks a function");

    final String section;

    Fault(String section) {
        this.section = section;
    }

    /**
     * A finding of this kind: what is wrong, in words a deployer knows,
     * completed by {@link Finding#remedy} and the others.
     */
    Finding found(String what) {
        return new Finding(this, what);
    }

    /**
     * The first fault found: its kind, what it is and its remedy in words a
     * deployer knows, what it is in the loader's terms where those say more,
     * the chain of importers down to it ("" for the library itself) and the
     * files involved, each set by name.
     */
    static final class Finding {
        final Fault kind;
        final String what;
        private String cause;
        private String remedy = "";
        private String chain = "";
        private final List<File> files = new ArrayList<>();

        private Finding(Fault kind, String what) {
            this.kind = kind;
            this.what = what;
        }

        /** The fault in the loader's terms; not kept where it says no more than {@link #what}. */
        Finding cause(String cause) {
            this.cause = cause.equals(what) ? null : cause;
            return this;
        }

        Finding remedy(String remedy) {
            this.remedy = remedy;
            return this;
        }

        /** "JQelAgtMsg.dll -> libqelagtapi.dll". */
        Finding chain(String chain) {
            this.chain = chain;
            return this;
        }

        /** The files the finding is about; nulls are left out. */
        Finding files(File... files) {
            for (File file : files) {
                if (file != null) {
                    this.files.add(file);
                }
            }
            return this;
        }

        /** The fault in the loader's terms, or null where the deployer's words say it all. */
        String cause() {
            return cause;
        }

        String remedy() {
            return remedy;
        }

        String chain() {
            return chain;
        }

        List<File> files() {
            return Collections.unmodifiableList(files);
        }

        /** The remedy, and the section of the guide that explains it. */
        String advice() {
            return remedy + " (see \"" + kind.section + "\" in DEPLOYMENT.md)";
        }

        /** The verdict's words. */
        String verdict() {
            return what + ": " + advice() + ".";
        }
    }
}
