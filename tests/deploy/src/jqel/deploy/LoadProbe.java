package jqel.deploy;

import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;

/**
 * Loads the library as a deployed program would, by its first native call,
 * and prints how that ended: the result code, or the error the JVM threw.
 * With the argument "other-package" it calls the same native declared by a
 * class in another package, whose JNI name the library does not export.
 */
public final class LoadProbe {
    private LoadProbe() {}

    public static void main(String[] args) {
        boolean other = args.length > 0 && args[0].equals("other-package");
        try {
            int rc = other
                    ? com.example.JQelAgentMessage.QelAgtMessageSend(0)
                    : JQelAgentMessage.QelAgtMessageSend(0);
            System.out.println("loaded; QelAgtMessageSend returned " + rc);
        } catch (Throwable t) {
            System.out.println(t);
        }
    }
}
