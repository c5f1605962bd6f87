package jqel.doctor;

import java.io.File;

/** A folder that a loader looks in, the rule that puts it there, and what that rule assumes. */
final class Place {
    /** The rules by which Java, Windows and ld.so look in a folder, each with the words the report uses. */
    enum Rule {
        JQEL_LIBRARY("jqel.library"),
        BOOT_PATH("sun.boot.library.path, the JVM's own folder"),
        LIBRARY_PATH("java.library.path"),
        LOADED("already loaded in the JVM's process"),
        ASSEMBLY("a side-by-side assembly of its manifest"),
        KNOWN_DLL("KnownDLLs, from the system folder"),
        PROGRAM("the program's folder"),
        SYSTEM("the system folder"),
        SYSTEM16("the 16-bit system folder"),
        WINDOWS("the Windows folder"),
        CURRENT("the current folder"),
        PATH("PATH"),
        RPATH("DT_RPATH"),
        LD_LIBRARY_PATH("LD_LIBRARY_PATH"),
        RUNPATH("DT_RUNPATH"),
        CACHE("ld.so.cache, as the folders of /etc/ld.so.conf it is built from"),
        DEFAULT("the default folders");

        final String words;

        Rule(String words) {
            this.words = words;
        }

        /** A folder of the system's own, whose libraries' own imports the doctor does not follow. */
        boolean system() {
            return this == LOADED || this == KNOWN_DLL || this == SYSTEM || this == SYSTEM16 || this == WINDOWS
                    || this == CACHE || this == DEFAULT;
        }
    }

    final File folder;
    final Rule rule;
    /** More on the rule: the entry as written, the object whose run path it is, what is assumed; "" if nothing. */
    final String note;

    Place(File folder, Rule rule, String note) {
        this.folder = folder;
        this.rule = rule;
        this.note = note;
    }

    /** "the system folder", "DT_RUNPATH $ORIGIN/../lib of libfoo.so". */
    String describe() {
        return rule.words + (note.isEmpty() || note.startsWith(",") ? note : " " + note);
    }
}
