# The JUnit suite's jars and the function that adds its ctest entries.
# Included by tests/java (the suite in the Java builds' own JVMs), by
# tests/windows (the DLL in 32-bit JVMs) and by the DLL's companion build
# (tests/dll_runner), which compiles the jars those entries run.
include(UseJava)
set(JQEL_JUNIT_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})
# The JVM-warning patterns that jqel.tests.Agent and run_junit.sh share.
cmake_path(SET JQEL_JVM_WARNINGS NORMALIZE ${CMAKE_CURRENT_LIST_DIR}/../jvm_warnings.txt)

# Debian's JUnit 5 jars (package junit5 and its dependencies), found by
# find_jar. The suite compiles against the first four; the console launcher
# runs with all of them. Not the standalone console jar: its Open Test
# Reporting listener's classes are Java 11's, and Java 8 fails to load them.
function(jqel_find_jar jar)
  # The jars are the build machine's, also in a cross build, whose toolchain
  # would look for them under its target's root only.
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE NEVER)
  find_jar(JQEL_JAR_${jar} ${jar} DOC "Debian's ${jar}.jar")
  if(NOT JQEL_JAR_${jar})
    message(FATAL_ERROR "${jar}.jar not found: install Debian's junit5 (tools/setup.sh)")
  endif()
endfunction()
set(JQEL_JUNIT_JARS)
set(JQEL_JUNIT_CONSOLE_JARS)
set(compile_jars junit-jupiter-api junit-jupiter-params apiguardian-api opentest4j)
foreach(jar ${compile_jars} junit-platform-console junit-platform-launcher
    junit-platform-engine junit-platform-commons junit-jupiter-engine)
  jqel_find_jar(${jar})
  list(APPEND JQEL_JUNIT_CONSOLE_JARS ${JQEL_JAR_${jar}})
endforeach()
foreach(jar ${compile_jars})
  list(APPEND JQEL_JUNIT_JARS ${JQEL_JAR_${jar}})
endforeach()
list(JOIN JQEL_JUNIT_CONSOLE_JARS ":" JQEL_JUNIT_CONSOLE_CLASSPATH)

# jqel_junit_jars(OUTPUT_DIR <dir>)
# The suite, jqel-tests.jar, and jqel-nofield.jar, a JQelMessage class
# without its fields for a JVM of its own; both need the jars jqel-api and
# jqel-standin.
function(jqel_junit_jars)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "OUTPUT_DIR" "")
  set(src ${JQEL_JUNIT_SOURCE_DIR})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${src}/src/*.java)
  add_jar(jqel-nofield
    SOURCES ${src}/nofield/com/brenn/varnis/tq/api/jqel/JQelMessage.java
            ${src}/nofield/jqel/nofield/Main.java
    INCLUDE_JARS jqel-standin
    OUTPUT_DIR ${arg_OUTPUT_DIR})
  add_jar(jqel-tests
    SOURCES ${sources}
    INCLUDE_JARS jqel-api jqel-standin ${JQEL_JUNIT_JARS}
    OUTPUT_DIR ${arg_OUTPUT_DIR})
  add_dependencies(jqel-tests jqel-api jqel-standin jqel-nofield)
endfunction()

# jqel_add_junit(<name> JAVA <java...> LIBRARY_PATH <dir> JARS <dir> BITS <32|64>
#                [SOAK <soak name> ROUNDS <n>] [FIXTURE <fixture>])
# Adds the ctest entry <name>, the JUnit suite but the soak test, and with
# SOAK the entry <soak name>, the soak test alone, with ROUNDS rounds, in a
# JVM whose fixed Java heap is resident from the start, so that the
# process's resident memory grows only with native memory. Each runs the JVM
# command line JAVA under -Xcheck:jni, with java.library.path LIBRARY_PATH
# and the jars of the folder JARS; the JVM is expected to have BITS-bit
# pointers. Each prints the JVM's version first, and any JNI warning fails
# it. Both need FIXTURE, if given (the entry that fetches the JVM). The JUnit
# run's command line is kept in the global property JQEL_JUNIT_COMMAND_<name>
# (for the release archives' own run).
function(jqel_add_junit name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LIBRARY_PATH;JARS;BITS;SOAK;ROUNDS;FIXTURE" "JAVA")
  set(jars ${arg_JARS})
  set(classpath "${jars}/jqel-api.jar:${jars}/jqel-standin.jar:${jars}/jqel-tests.jar")
  set(console
    -cp ${JQEL_JUNIT_CONSOLE_CLASSPATH} org.junit.platform.console.ConsoleLauncher
    --disable-banner --disable-ansi-colors --details=tree --fail-if-no-tests
    --class-path "${classpath}" --scan-class-path "${jars}/jqel-tests.jar")
  set(run bash ${JQEL_JUNIT_SOURCE_DIR}/run_junit.sh)
  list(JOIN arg_JAVA " " java_line)
  set(jvm ${arg_JAVA} -Xcheck:jni -- -Djava.library.path=${arg_LIBRARY_PATH})
  set(junit_line ${jvm}
    "-Djqel.java=${java_line}"
    "-Djqel.nofield.classpath=${jars}/jqel-nofield.jar:${jars}/jqel-standin.jar"
    "-Djqel.tests.classpath=${classpath}"
    -Djqel.expected.data.model=${arg_BITS}
    -Djqel.expected.version=${PROJECT_VERSION}
    -Djqel.jvm.warnings=${JQEL_JVM_WARNINGS}
    ${console} --exclude-tag soak)
  add_test(NAME ${name} COMMAND ${run} ${CMAKE_CURRENT_BINARY_DIR}/${name}.log ${junit_line})
  set_property(GLOBAL PROPERTY JQEL_JUNIT_COMMAND_${name} ${junit_line})
  set(entries ${name})
  if(arg_SOAK)
    add_test(NAME ${arg_SOAK}
      COMMAND ${run} ${CMAKE_CURRENT_BINARY_DIR}/${arg_SOAK}.log ${jvm}
        -Xms64m -Xmx64m -XX:+AlwaysPreTouch -XX:+UseSerialGC -Djqel.soak.rounds=${arg_ROUNDS}
        ${console} --include-tag soak)
    list(APPEND entries ${arg_SOAK})
  endif()
  if(arg_FIXTURE)
    set_tests_properties(${entries} PROPERTIES FIXTURES_REQUIRED ${arg_FIXTURE})
  endif()
endfunction()
