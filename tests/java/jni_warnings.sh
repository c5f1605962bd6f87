# Sourced by the scripts that run JVMs with -Xcheck:jni.
#   jni_warnings <file>   prints the lines of a JVM's output that report a
#                         JNI fault, and succeeds if there is one.
#
# Java 8 prints one such line for itself: its java launcher reports "JNI call
# made without checking exceptions when required to from
# CallStaticObjectMethod" once for each argument it passes to the program's
# main method (measured: none for a program run without arguments, one per
# argument; the launcher turns each into a Java string with that call and
# then deletes a local reference unchecked). It is not taken for a fault: no
# code of ours calls CallStaticObjectMethod, nor do the stand-ins (the DLL's
# JNIEnv view does not even forward it). jqel.tests.Agent.runJvm passes over
# the same line.
JQEL_JDK8_LAUNCHER_WARNING='WARNING in native method: JNI call made without checking exceptions when required to from CallStaticObjectMethod'

jni_warnings() {
  grep -a -E 'WARNING in native method|WARNING: JNI|FATAL ERROR in native method|JNI local refs' "$1" |
    grep -a -v -x -F "$JQEL_JDK8_LAUNCHER_WARNING"
}
