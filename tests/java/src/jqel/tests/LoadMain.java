package jqel.tests;

/**
 * Initializes the three classes, each of which loads the library, in a JVM of
 * its own, and prints "loaded" or the error that the first one threw, with
 * its cause.
 */
public final class LoadMain {
    private LoadMain() {}

    public static void main(String[] args) {
        try {
            for (String name : new String[] {"JQelAgentMessage", "JQelMessage", "JQelMonValue"}) {
                Class.forName("com.brenn.varnis.tq.api.jqel." + name);
            }
            System.out.println("loaded");
        } catch (Throwable t) {
            System.out.println(t);
            System.out.println("cause: " + t.getCause());
        }
    }
}
