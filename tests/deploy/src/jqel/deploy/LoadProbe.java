package jqel.deploy;

import com.brenn.varnis.tq.api.jqel.JQelAgentMessage;

/**
 * Loads the library as a deployed program would, by its first native call,
 * and prints how that ended: the result code, or the first line of the error,
 * the JVM's message.
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
            // The JVM's message, the line the guide quotes; the classes' next
            // line, the doctor's command, is LoadingTest's to judge.
            System.out.println(t.toString().split("\\R", 2)[0]);
        }
    }
}
