#!/bin/bash
# Provokes each common failure to load the library, as a deployment meets
# them, and fails unless the deployment guide quotes the JVM's message word
# for word (with the library's folder written as /opt/qel/lib there). Also
# proves the guide's claim that the library finds the agent's libraries in
# its own folder, and what it says of class loaders in application servers.
# The loading doctor, as installed beside the library, runs on the same
# failures and must name their cause; the guide quotes what it prints for the
# missing agent library. Where a JDK of version 24 or later is installed, the
# guide must quote its warning on loading a native library, and the doctor
# must run without it. Every JVM checks the natives' JNI calls, and no JNI
# warning is allowed.
# usage: load_messages.sh <scratch> <build-dir> <guide> <probe-classpath> <jni-include-dirs>
#                         <32-bit java> <java...>
# (the probe's class path: the probe jar, then the API jar; the 32-bit JVM's
# command line as a list separated by ";"; the java command line with
# -Xcheck:jni)
set -u
work=$1 build=$2 guide=$3 classpath=$4 jni_includes=$5
IFS=';' read -r -a java32 <<<"$6"
java32+=(-Xcheck:jni)
shift 6
java=("$@")
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

# Runs the loading doctor installed in $lib, with java.library.path=$lib, on
# a JVM command line. Its verdict must equal `verdict`, and its exit status be
# 0 exactly when the library loaded; it must print the line `also`, if given,
# and no WARNING. If quoted, every line it printed must appear in the guide,
# but for those that depend on the machine: the JVM's version and the default
# folders of its ld.so.
doctor() {
  local what=$1 quoted=$2 verdict=$3 also=$4
  shift 4
  local out rc line want=1
  out=$("$@" -Djava.library.path="$lib" -jar "$lib/jqel-doctor.jar" 2>&1)
  rc=$?
  out=$(printf '%s\n' "$out" | grep -v '^Picked up' | sed "s|$lib|/opt/qel/lib|g")
  [ "$verdict" != "Verdict: the library loaded." ] || want=0
  if [ "$(grep '^Verdict: ' <<<"$out")" != "$verdict" ] || [ "$rc" != $want ] ||
     { [ -n "$also" ] && ! grep -qxF -- "$also" <<<"$out"; } || grep -q '^WARNING' <<<"$out"; then
    echo "FAIL doctor, $what: it printed (exit status $rc)"; printf '     %s\n' "$out"
    echo "     expected"; printf '     %s\n' "$verdict" ${also:+"$also"}
    status=1
    return
  fi
  echo "ok   doctor, $what:"
  while IFS= read -r line; do
    if [ "$quoted" = quoted ] && [[ "$line" != "JVM: "* && "$line" != "  the default folders: "* ]] &&
       ! grep -qxF -- "$line" "$guide"; then
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
doctor "agent libraries missing" quoted \
  "Verdict: libqelagtapi.so is in none of the folders Linux looks in: put it in /opt/qel/lib, the library's folder, or name its folder in LD_LIBRARY_PATH (see \"A library it depends on is missing\" in DEPLOYMENT.md)." \
  "" "${java[@]}"

cp "$build"/lib/libqelagtapi.so "$build"/lib/libJQelAgtbase.so "$lib"/
check "agent libraries beside it" plain "loaded; QelAgtMessageSend returned 1" "${java[@]}"
doctor "agent libraries beside it" plain "Verdict: the library loaded." "" "${java[@]}"

# Java 24 and later, where installed: their warning when a class on the class
# path loads a native library, quoted by the guide; none with native access
# enabled, nor for the doctor, whose jar enables it.
for release in /usr/lib/jvm/*/release; do
  feature=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$release")
  [ "${feature:-0}" -ge 24 ] || continue
  newer=("${release%/release}/bin/java" -Xcheck:jni)
  cp "${classpath#*:}" "$lib/jqel-api.jar"
  for access in "" --enable-native-access=ALL-UNNAMED; do
    what="Java $feature${access:+ with $access}"
    out=$("${newer[@]}" $access -Djava.library.path="$lib" -cp "${classpath%%:*}:$lib/jqel-api.jar" \
          jqel.deploy.LoadProbe 2>&1 | sed "s|$lib|/opt/qel/lib|g")
    warnings=$(grep '^WARNING' <<<"$out")
    # A warning without native access enabled, none with it.
    warned=yes expected=yes
    [ -n "$warnings" ] || warned=no
    [ -z "$access" ] || expected=no
    if ! grep -qx 'loaded; QelAgtMessageSend returned 1' <<<"$out" || [ "$warned" != "$expected" ]; then
      echo "FAIL $what: the JVM printed"; printf '     %s\n' "$out"; status=1
      continue
    fi
    echo "ok   $what: warned $warned"
    while IFS= read -r line; do
      [ -z "$line" ] || grep -qxF -- "$line" "$guide" || { echo "FAIL   the guide does not quote: $line"; status=1; }
    done <<<"$warnings"
  done
  doctor "Java $feature" plain "Verdict: the library loaded." "" "${newer[@]}"
  break
done

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
doctor "64-bit library in a 32-bit JVM" plain \
  "Verdict: /opt/qel/lib/libJQelAgtMsg.so is built for x86-64 (64-bit), the JVM for x86 (32-bit): run the program with a 64-bit JVM (see \"A 64-bit library in a 32-bit JVM\" in DEPLOYMENT.md)." \
  "File: /opt/qel/lib/libJQelAgtMsg.so -> /opt/qel/lib/libJQelAgtMsg.so.1.0.0: ELF x86-64 (ELFCLASS64), built for x86-64 (64-bit), the JVM for x86 (32-bit)" \
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
doctor "32-bit library in a 64-bit JVM" plain \
  "Verdict: /opt/qel/lib/libJQelAgtMsg.so is built for i386 (32-bit), the JVM for amd64 (64-bit): run the program with a 32-bit JVM (see \"A 32-bit library in a 64-bit JVM\" in DEPLOYMENT.md)." \
  "File: /opt/qel/lib/libJQelAgtMsg.so: ELF i386 (ELFCLASS32), built for i386 (32-bit), the JVM for amd64 (64-bit)" \
  "${java[@]}"

rm -rf "$lib" && mkdir -p "$lib"
check "library not on java.library.path" quoted \
  "java.lang.UnsatisfiedLinkError: no JQelAgtMsg in java.library.path: /opt/qel/lib" "${java[@]}"
exit $status
