package jqel.doctor;

/**
 * A file that cannot be used as a library: one that cannot be read, or whose
 * bytes are not what its format says they must be. The message completes a
 * sentence that begins with the file's path.
 */
final class BadFile extends Exception {
    private static final long serialVersionUID = 1L;

    /** Whether the file could not be read at all, rather than read and found wrong. */
    final boolean unreadable;

    BadFile(String message, boolean unreadable) {
        super(message, null, false, false);
        this.unreadable = unreadable;
    }

    static BadFile corrupt(String message) {
        return new BadFile(message, false);
    }
}
