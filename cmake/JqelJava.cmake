# Java for the JUnit suite, the JVM-run tests and the demo: the JDK of
# JqelJdk.cmake, and the JVM that runs them (a 32-bit build runs a 32-bit
# JVM under an emulator, so the command is a list: JQEL_JAVA_COMMAND, or the
# private 32-bit JVM of the Java release JQEL_JAVA_I386, from I386Jvms.cmake).
include(UseJava)
set(CMAKE_JAVA_COMPILE_FLAGS ${JQEL_JAVAC_FLAGS})

set(JQEL_JAVA_COMMAND "${Java_JAVA_EXECUTABLE}" CACHE STRING
  "Command line that starts the JVM for tests and the demo (a list)")
set(JQEL_JAVA_I386 "" CACHE STRING
  "Java release (one that I386Jvms.cmake fetches) of the private 32-bit JVM that runs the tests and the demo instead")
if(JQEL_JAVA_I386)
  jqel_i386_java(JQEL_JAVA_COMMAND ${JQEL_JAVA_I386})
endif()
set(JQEL_CLASSPATH "${CMAKE_BINARY_DIR}/java/jqel-api.jar:${CMAKE_BINARY_DIR}/java/jqel-standin.jar")
