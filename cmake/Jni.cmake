# Finds the JDK's JNI headers (and, where Java is built, the JDK's tools).
#
# FindJNI looks in several places and can pick another JDK than the one on the
# PATH; unless JAVA_HOME says otherwise, take the JDK whose javac is on PATH.
if(NOT JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
  find_program(JQEL_JAVAC javac)
  if(JQEL_JAVAC)
    file(REAL_PATH "${JQEL_JAVAC}" javac_path)
    cmake_path(GET javac_path PARENT_PATH java_bin)
    cmake_path(GET java_bin PARENT_PATH JAVA_HOME)
  endif()
endif()
find_package(JNI REQUIRED COMPONENTS JVM)
