package jqel.bench.coding;

/**
 * The converter library against the JVM's own string coding
 * (libJQelBenchCoding): each method converts {@code text} n times, one way,
 * and returns how many conversions made a result.
 */
public final class Coding {
    static {
        System.loadLibrary("JQelBenchCoding");
    }

    private Coding() {}

    /** convertStringFromUTF + free of the text's modified UTF-8. */
    public static native long converterFromUtf(String text, int n);

    /** GetStringUTFChars + ReleaseStringUTFChars of the text. */
    public static native long jvmFromUtf(String text, int n);

    /** convertStringToUTF + DeleteLocalRef of the text's native bytes. */
    public static native long converterToUtf(String text, int n);

    /** NewStringUTF + DeleteLocalRef of the text's modified UTF-8. */
    public static native long jvmToUtf(String text, int n);
}
