package jqel.doctor;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * LibraryPath, the reading of java.library.path that the doctor shares with
 * the loader's debug report, against the JDK's own parser (JdkLibraryPath),
 * in this JVM and in each JVM that an environment variable JQEL_DOCTOR_JVM_<n>
 * names (its command line, the words joined by "|"). Windows' reading, which
 * no JVM here has, is held by the doctor's rows.
 */
class LibraryPathTest {
    @Test
    void readsAsTheJdkReads() {
        Map<String, List<String>> jvms = new TreeMap<>();
        jvms.put("this JVM", Arrays.asList(new File(System.getProperty("java.home"), "bin/java").getPath()));
        System.getenv().forEach((name, value) -> {
            if (name.startsWith("JQEL_DOCTOR_JVM_")) {
                jvms.put(name, Arrays.asList(value.split("\\|")));
            }
        });
        List<Executable> checks = new ArrayList<>();
        jvms.forEach((name, java) -> checks.add(() -> judge(name, java)));
        assertAll(checks);
    }

    /** Runs JdkLibraryPath in one JVM: each path must give LibraryPath's folders for that JVM's release. */
    private static void judge(String name, List<String> java) throws IOException, InterruptedException {
        String jar = new File(JdkLibraryPath.class.getProtectionDomain().getCodeSource().getLocation().getPath()).getPath();
        List<String> command = new ArrayList<>(java);
        command.addAll(Arrays.asList("-Xcheck:jni", "-cp", jar, JdkLibraryPath.class.getName()));
        ProcessBuilder builder = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT);
        // Read by Java 9 and later only, whose parsers are in packages closed to it.
        builder.environment().put("JDK_JAVA_OPTIONS", "--add-opens=java.base/java.lang=ALL-UNNAMED"
                + " --add-opens=java.base/jdk.internal.loader=ALL-UNNAMED");
        Process process = builder.start();
        List<String> lines;
        try (BufferedReader out = new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
            lines = out.lines().collect(Collectors.toList());
        }
        assertEquals(0, process.waitFor(), name + " printed " + lines);
        int release = LibraryPath.release(lines.get(0));
        List<String> expected = new ArrayList<>();
        expected.add(lines.get(0));
        for (String path : JdkLibraryPath.PATHS) {
            expected.add(String.join("|", LibraryPath.folders(path, false, release)));
        }
        assertEquals(expected, lines, name + ", Java " + release + ": the JDK's folders, one line per path");
    }
}
