package jqel.deploy;

import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Paths;

/**
 * Deploys the API jar as an application server does, each application in a
 * class loader of its own, and calls a native through each application. Run
 * it with this probe alone on the class path; the jar comes as an argument:
 * <ul>
 * <li>{@code siblings JAR1 JAR2}: two applications, each with its own copy of
 *     the jar, both alive;
 * <li>{@code shared JAR}: the jar in one loader, the parent of two
 *     applications' loaders;
 * <li>{@code redeploy JAR}: an application undeployed (its loader made
 *     unreachable), then deployed again in a new loader.
 * </ul>
 * It prints how the last application's call ended; an earlier application
 * that fails ends the run with its error.
 */
public final class LoaderProbe {
    /** The application that stays alive to the end, as it would in a server. */
    private static URLClassLoader alive;

    private LoaderProbe() {}

    public static void main(String[] args) throws Exception {
        try {
            switch (args[0]) {
                case "siblings":
                    siblings(jar(args[1]), jar(args[2]));
                    break;
                case "shared":
                    URLClassLoader shared = application(jar(args[1]));
                    call(new URLClassLoader(new URL[0], shared));
                    System.out.println(call(new URLClassLoader(new URL[0], shared)));
                    break;
                case "redeploy":
                    deployCallAndUndeploy(jar(args[1]));
                    System.out.println(call(application(jar(args[1]))));
                    break;
                default:
                    throw new IllegalArgumentException(args[0]);
            }
        } catch (UnsatisfiedLinkError e) {
            System.out.println(firstLine(e));
        }
    }

    /**
     * Prints the second application's error, which must carry the JVM's as
     * its cause. A third application, loading with its thread interrupted,
     * must fail too and leave the interrupt status set.
     */
    private static void siblings(URL first, URL second) throws ReflectiveOperationException {
        alive = application(first);
        call(alive);
        try {
            System.out.println(call(application(second)));
        } catch (UnsatisfiedLinkError refused) {
            System.out.println(firstLine(refused));
            Throwable jvm = refused.getCause();
            if (!(jvm instanceof UnsatisfiedLinkError && refused.getMessage().startsWith(jvm.getMessage()))) {
                System.out.println("its cause is not the JVM's error: " + refused.getCause());
            }
        }
        Thread.currentThread().interrupt();
        try {
            System.out.println(call(application(second)));
        } catch (UnsatisfiedLinkError refused) {
            if (!Thread.interrupted()) {
                System.out.println("an interrupted load lost the interrupt");
            }
        }
    }

    /**
     * The error's first line, the one the guide quotes; the doctor's command
     * line that follows is LoadingTest's to judge.
     */
    private static String firstLine(Throwable t) {
        return t.toString().split("\\R", 2)[0];
    }

    /** Runs an application, then closes its loader and drops every reference to it. */
    private static void deployCallAndUndeploy(URL jar) throws Exception {
        try (URLClassLoader loader = application(jar)) {
            call(loader);
        }
    }

    /** Loads the API class in {@code loader}, which loads the library, and calls a native. */
    private static String call(ClassLoader loader) throws ReflectiveOperationException {
        Class<?> api = Class.forName("com.brenn.varnis.tq.api.jqel.JQelAgentMessage", true, loader);
        return "loaded; QelAgtMessageSend returned "
                + api.getMethod("QelAgtMessageSend", long.class).invoke(null, 0L);
    }

    private static URLClassLoader application(URL jar) {
        return new URLClassLoader(new URL[] {jar});
    }

    private static URL jar(String path) throws java.net.MalformedURLException {
        return Paths.get(path).toUri().toURL();
    }
}
