# Java for the classes, the JUnit suite and the demo: the JDK's compiler, and
# the JVM that runs them (a 32-bit build runs a 32-bit JVM under an emulator,
# so the command is a list, set with JQEL_JAVA_COMMAND).
find_package(Java 17 REQUIRED COMPONENTS Development)
include(UseJava)
set(CMAKE_JAVA_COMPILE_FLAGS -Xlint:all -Werror --release 17)

set(JQEL_JAVA_COMMAND "${Java_JAVA_EXECUTABLE}" CACHE STRING
  "Command line that starts the JVM for tests and the demo (a list)")
set(JQEL_CLASSPATH "${CMAKE_BINARY_DIR}/java/jqel-api.jar:${CMAKE_BINARY_DIR}/java/jqel-standin.jar")

# Adds a test that runs the JVM with `ARGN` under -Xcheck:jni, with the built
# libraries on java.library.path; any JNI warning the JVM prints fails it.
function(jqel_java_test name)
  add_test(NAME ${name}
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/java/run_junit.sh
      ${CMAKE_CURRENT_BINARY_DIR}/${name}.log
      ${JQEL_JAVA_COMMAND} -Xcheck:jni
      -Djava.library.path=${CMAKE_LIBRARY_OUTPUT_DIRECTORY}
      ${ARGN})
endfunction()
