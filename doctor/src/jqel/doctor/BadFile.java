package jqel.doctor;

/**
 * A file that cannot be used as a library: one that cannot be read, that is
 * no regular file, or whose bytes are not what its format says they must be.
 * The message completes a sentence that begins with the file's path.
 */
final class BadFile extends Exception {
    private static final long serialVersionUID = 1L;

    /** What is wrong, for the remedy: the remedy differs for each. */
    enum Kind { UNREADABLE, NOT_A_FILE, CORRUPT }

    final Kind kind;
    /** ld.so's words for this fault where they are known ("file too short"), else null. */
    final String loaderWords;

    BadFile(String message, Kind kind, String loaderWords) {
        super(message, null, false, false);
        this.kind = kind;
        this.loaderWords = loaderWords;
    }

    static BadFile corrupt(String message) {
        return new BadFile(message, Kind.CORRUPT, null);
    }
}
