package jqel.tests;

import com.brenn.varnis.tq.api.jqel.JQelAgent;
import com.brenn.varnis.tq.api.jqel.JQelLibrary;

/**
 * Loads the library in a JVM of its own and prints how that ended. By
 * default it initializes the three classes, each of which loads the library,
 * and prints "loaded" or the error that the first one threw, with its cause.
 * With -Djqel.tests.available=true it asks JQelLibrary first, then makes a
 * JQelAgent twice and initializes the classes, printing each outcome. (A
 * property, not an argument: 32-bit launchers warn under -Xcheck:jni for
 * each argument of main.)
 */
public final class LoadMain {
    private static final String[] CLASSES = {"JQelAgentMessage", "JQelMessage", "JQelMonValue"};

    private LoadMain() {}

    public static void main(String[] args) {
        if (Boolean.getBoolean("jqel.tests.available")) {
            System.out.println("available: " + JQelLibrary.isAvailable());
            System.out.println("cause: " + firstLine(JQelLibrary.unavailabilityCause()));
            for (int i = 0; i < 2; i++) {
                try {
                    new JQelAgent();
                    System.out.println("JQelAgent: made");
                } catch (Throwable t) {
                    System.out.println("JQelAgent: " + firstLine(t));
                }
            }
            for (String name : CLASSES) {
                try {
                    Class.forName("com.brenn.varnis.tq.api.jqel." + name);
                    System.out.println(name + ": initialized");
                } catch (Throwable t) {
                    System.out.println(name + ": " + t.getClass().getName());
                }
            }
            return;
        }
        try {
            for (String name : CLASSES) {
                Class.forName("com.brenn.varnis.tq.api.jqel." + name);
            }
            System.out.println("loaded");
        } catch (Throwable t) {
            System.out.println(t);
            System.out.println("cause: " + t.getCause());
        }
    }

    private static String firstLine(Throwable t) {
        return t == null ? "null" : t.toString().split("\\R", 2)[0];
    }
}
