package jqel.doctor;

import java.io.File;
import java.util.ArrayList;
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
    ASSEMBLY("What must sit beside it"),
    MISSING("A library it depends on is missing"),
    OTHER_BITNESS("A library it depends on is built for the other bitness"),
    /** Found only beside the DLL that imports it, where Windows does not look. */
    BESIDE("What must sit beside it"),
    /** Java 8 with a JDK: found only in the folder of a java.exe that may not be the one running. */
    PROGRAM_ASSUMED("A library it depends on is missing"),
    BAD_DEPENDENCY("A library it depends on is missing"),
    LACKS("A library it depends on lacks a function");

    final String section;

    Fault(String section) {
        this.section = section;
    }

    /** The first fault found: its kind, the files and chain involved, what it is and its remedy. */
    static final class Finding {
        final Fault kind;
        final String what;
        final String remedy;
        final List<File> files = new ArrayList<>();
        /** "JQelAgtMsg.dll -> libqelagtapi.dll", or "" for the library itself. */
        final String chain;

        Finding(Fault kind, String what, String remedy, String chain, File... files) {
            this.kind = kind;
            this.what = what;
            this.remedy = remedy;
            this.chain = chain;
            for (File file : files) {
                if (file != null) {
                    this.files.add(file);
                }
            }
        }

        /** The verdict's words. */
        String verdict() {
            return what + ": " + remedy + " (see \"" + kind.section + "\" in DEPLOYMENT.md).";
        }
    }
}
