#!/bin/bash
# Provokes each common failure to load the library, as a deployment meets
# them, and fails unless the deployment guide quotes the JVM's message word
# for word (with the library's folder written as /opt/qel/lib there). Also
# proves the guide's claim that the library finds the agent's libraries in
# its own folder, and what it says of class loaders in application servers.
# Every JVM checks the natives' JNI calls, and no JNI warning is allowed.
# usage: load_messages.sh <scratch> <build-dir> <guide> <probe-classpath> <jni-include-dirs> <java...>
# (the probe's class path: the probe jar, then the API jar; the java command
# line with -Xcheck:jni)
set -u
work=$1 build=$2 guide=$3 classpath=$4 jni_includes=$5
shift 5
java=("$@")
# The 32-bit JVM under qemu, interpreting only (its compilers are not reliable
# under qemu-user).
java32=(qemu-i386 /usr/lib/jvm/java-17-openjdk-i386/bin/java -Xint -Xcheck:jni)
src=$(cd "$(dirname "$0")/../.." && pwd)
lib=$work/lib
status=0

# The library as the release archive holds it.
fresh() {
  rm -rf "$lib" && cmake --install "$build" --prefix "$lib" >/dev/null
}

# Runs the probe with java.library.path=$lib (or PROBE_LIBRARY_PATH) and
# PROBE_JVM_ARG, PROBE_ARG if set, and judges what it printed (see expect).
check() {
  local what=$1 quoted=$2 expected=$3
  shift 3
  expect "$what" "$quoted" "$expected" "$@" -Djava.library.path="${PROBE_LIBRARY_PATH:-$lib}" \
    ${PROBE_JVM_ARG:+"$PROBE_JVM_ARG"} -cp "$classpath" jqel.deploy.LoadProbe ${PROBE_ARG:-}
}

# Runs a JVM command line. The last line it prints must equal `expected`,
# and it must print no JNI warning; if quoted, every line it printed must
# appear in the guide.
expect() {
  local what=$1 quoted=$2 expected=$3
  shift 3
  local out line
  out=$("$@" 2>&1 | grep -v '^Picked up' | sed "s|$lib|/opt/qel/lib|g")
  if [ "$(printf '%s\n' "$out" | tail -n 1)" != "$expected" ] ||
     grep -qE 'WARNING in native method|WARNING: JNI|FATAL ERROR in native method' <<<"$out"; then
    echo "FAIL $what: the JVM printed"; printf '     %s\n' "$out"
    echo "     expected"; echo "     $expected"
    status=1
    return
  fi
  echo "ok   $what:"
  while IFS= read -r line; do
    if [ "$quoted" = quoted ] && ! grep -qF -- "$line" "$guide"; then
      echo "FAIL   the guide does not quote: $line"; status=1
    else
      echo "       $line"
    fi
  done <<<"$out"
}

fresh
check "agent libraries missing" quoted \
  "java.lang.UnsatisfiedLinkError: /opt/qel/lib/libJQelAgtMsg.so.1.0.0: libqelagtapi.so: cannot open shared object file: No such file or directory" \
  "${java[@]}"

cp "$build"/lib/libqelagtapi.so "$build"/lib/libJQelAgtbase.so "$lib"/
check "agent libraries beside it" plain "loaded; QelAgtMessageSend returned 1" "${java[@]}"

mkdir -p "$work/empty"
PROBE_LIBRARY_PATH=$work/empty PROBE_JVM_ARG=-Djqel.library=$lib/libJQelAgtMsg.so \
  check "full path in jqel.library" plain "loaded; QelAgtMessageSend returned 1" "${java[@]}"

PROBE_ARG=other-package check "class in another package" quoted \
  "java.lang.UnsatisfiedLinkError: 'int com.example.JQelAgentMessage.QelAgtMessageSend(long)'" \
  "${java[@]}"

# Application servers: each application's classes in a class loader of its
# own. The library stays bound to the first loader that loaded it, so each
# case needs a JVM of its own.
loaders=("${java[@]}" -Djava.library.path="$lib" -cp "${classpath%%:*}" jqel.deploy.LoaderProbe)
mkdir -p "$work/app1" "$work/app2"
cp "${classpath#*:}" "$work/app1/jqel-api.jar" && cp "${classpath#*:}" "$work/app2/jqel-api.jar"
expect "two applications, each with its own copy of the classes" quoted \
  "java.lang.UnsatisfiedLinkError: Native Library /opt/qel/lib/libJQelAgtMsg.so.1.0.0 already loaded in another classloader. It is held by another copy of the com.brenn.varnis.tq.api.jqel classes, in another application or in an undeployed one not yet garbage-collected: put their jar in one class loader shared by every application (see \"Application servers\" in DEPLOYMENT.md)." \
  "${loaders[@]}" siblings "$work/app1/jqel-api.jar" "$work/app2/jqel-api.jar"
expect "two applications sharing one copy" plain "loaded; QelAgtMessageSend returned 1" \
  "${loaders[@]}" shared "$work/app1/jqel-api.jar"
expect "an application redeployed" plain "loaded; QelAgtMessageSend returned 1" \
  "${loaders[@]}" redeploy "$work/app1/jqel-api.jar"

check "64-bit library in a 32-bit JVM" quoted \
  "java.lang.UnsatisfiedLinkError: /opt/qel/lib/libJQelAgtMsg.so.1.0.0: /opt/qel/lib/libJQelAgtMsg.so.1.0.0: wrong ELF class: ELFCLASS64 (Possible cause: can't load AMD 64 .so on a IA 32 platform)" \
  "${java32[@]}"

# A 32-bit build of the library's sources in its place.
rm -f "$lib"/libJQelAgtMsg.so*
includes=()
for d in ${jni_includes//;/ }; do includes+=(-I"$d"); done
g++ -m32 -shared -fPIC -O2 "${includes[@]}" -o "$lib/libJQelAgtMsg.so" \
  "$src"/bridge/{agent_message,conventions,message,mon_value}.cpp || status=1
check "32-bit library in a 64-bit JVM" quoted \
  "java.lang.UnsatisfiedLinkError: /opt/qel/lib/libJQelAgtMsg.so: /opt/qel/lib/libJQelAgtMsg.so: wrong ELF class: ELFCLASS32 (Possible cause: can't load IA 32 .so on a AMD 64 platform)" \
  "${java[@]}"

rm -rf "$lib" && mkdir -p "$lib"
check "library not on java.library.path" quoted \
  "java.lang.UnsatisfiedLinkError: no JQelAgtMsg in java.library.path: /opt/qel/lib" "${java[@]}"
exit $status
