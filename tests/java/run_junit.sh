#!/bin/sh
# Runs a Java program (the JUnit console launcher, or the demo) and fails if
# it fails or if the JVM printed any JNI warning. Start the JVM with
# -Xcheck:jni so that HotSpot checks every JNI call the natives make.
# usage: run_junit.sh <log-file> <java command line...>
set -u
log=$1
shift
"$@" >"$log" 2>&1
rc=$?
cat "$log"
if grep -a -E 'WARNING in native method|WARNING: JNI|FATAL ERROR in native method|JNI local refs' "$log" >/dev/null; then
  echo "FAILED: the JVM printed JNI warnings (see above)"
  exit 1
fi
exit $rc
