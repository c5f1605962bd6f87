#!/bin/bash
# Runs a Java program (the JUnit console launcher, or the demo) and fails if
# it fails or if the JVM printed any JNI warning (tests/jvm_warnings.txt says
# which lines are). Start the JVM with -Xcheck:jni so that HotSpot checks
# every JNI call the natives make. First it prints which JVM runs it: its
# java.runtime.version and os.arch.
# usage: run_junit.sh <log-file> <java command line...> -- <its arguments...>
set -u
# shellcheck source=SCRIPTDIR/../lib.sh
source "$(dirname "$0")/../lib.sh"
log=$1
shift
args=("$@")
jvm=()
for word in "${args[@]}"; do
  [ "$word" = -- ] && break
  jvm+=("$word")
done
if [ ${#jvm[@]} -eq ${#args[@]} ]; then
  echo "usage: run_junit.sh <log-file> <java command line...> -- <its arguments...>" >&2
  exit 2
fi
"${jvm[@]}" -XshowSettings:properties -version 2>&1 |
  sed -n 's/^ *\(java\.runtime\.version\|os\.arch\) = \(.*\)/\1 \2/p' | paste -sd, - |
  sed 's/^/JVM: /; s/,/, /' >"$log"
"${jvm[@]}" "${args[@]:${#jvm[@]}+1}" >>"$log" 2>&1
rc=$?
cat "$log"
if jvm_warnings "$log" >/dev/null; then
  echo "FAILED: the JVM printed JNI warnings:"
  jvm_warnings "$log"
  exit 1
fi
exit $rc
