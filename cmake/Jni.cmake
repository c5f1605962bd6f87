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

# Linux: the JDK's jni.h and its linux/jni_md.h. A 64-bit build takes them
# through FindJNI. A 32-bit build takes the same files from the JDK of javac:
# Linux's jni_md.h serves 32-bit code as well as 64-bit (jlong is long long
# without _LP64), and Debian's i386 JDK ships byte-identical headers. The
# 32-bit JVMs themselves are fetched only for the tests that run them
# (I386Jvms.cmake).
if(NOT WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    find_package(JNI REQUIRED COMPONENTS JVM)
    return()
  endif()
  find_path(JAVA_INCLUDE_PATH jni.h HINTS "${JAVA_HOME}/include" NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(JAVA_INCLUDE_PATH2 ${JAVA_INCLUDE_PATH}/linux)
  add_library(JNI::JNI INTERFACE IMPORTED)
  target_include_directories(JNI::JNI INTERFACE ${JAVA_INCLUDE_PATH} ${JAVA_INCLUDE_PATH2})
  return()
endif()

# Windows cross build: FindJNI would look for a Windows JDK. jni.h itself is
# the same on every platform, so take it from the host JDK, and pair it with
# our own jni_md.h for Windows (the host JDK only has its own platform's).
if(NOT JAVA_HOME AND DEFINED ENV{JAVA_HOME})
  set(JAVA_HOME "$ENV{JAVA_HOME}")
endif()
find_path(JQEL_JNI_INCLUDE_DIR jni.h
  HINTS "${JAVA_HOME}/include" NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(JNI::JNI INTERFACE IMPORTED)
target_include_directories(JNI::JNI INTERFACE
  ${CMAKE_CURRENT_LIST_DIR}/windows/include ${JQEL_JNI_INCLUDE_DIR})

