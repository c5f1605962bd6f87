#!/bin/bash
# Provokes each common failure to load the library, as a deployment meets
# them, and fails unless the deployment guide quotes the JVM's message word
# for word, as a line of its own (with the library's folder written as
# /opt/qel/lib there). Also proves the guide's claim that the library finds
# the agent's libraries in its own folder, and what it says of class loaders
# in application servers. It runs with the JVM given (64-bit, of Java 8 or
# later, or a 32-bit one of Java 8, 11, 17 or 21 for the i386 library), and loads the library of
# the other bitness in it; the library of the build is also loaded in each
# JVM of the other bitness given. The loading doctor, as installed beside the
# library, runs on the same failures and must name their cause; the guide
# quotes its verdict for the missing agent library. In Java 24 and later
# it checks that the guide quotes the JVM's warning on loading a native
# library, and that the doctor runs without it.
# Every JVM checks the natives' JNI calls, and no JNI warning is allowed
# (tests/jvm_warnings.txt).
# usage: load_messages.sh <scratch> <build-dir> <guide> <probe-classpath> <other-bitness library>
#                         <other-bitness JVMs> <java...>
# (the probe's class path: the probe jar, then the API jar; a
# libJQelAgtMsg.so built from the same sources for the other bitness; the
# JVMs of the other bitness, their command lines separated by "|", the words
# of each by ";"; the java command line with -Xcheck:jni)
set -u
work=$1 build=$2 guide=$3 classpath=$4 other_library=$5 others=$6
shift 6
java=("$@")
# shellcheck source=SCRIPTDIR/../lib.sh
source "$(dirname "$0")/../lib.sh"
lib=$work/lib

# The library as the release archive holds it.
fresh() {
  rm -rf "$lib" && cmake --install "$build" --prefix "$lib" >/dev/null
}

# Runs the probe with java.library.path=$lib (or PROBE_LIBRARY_PATH) and
# PROBE_JVM_ARG, PROBE_ARG if set, and judges what it printed (see expect).
probe() {
  local what=$1 quoted=$2 expected=$3
  shift 3
  expect "$what" "$quoted" "$expected" "$@" -Djava.library.path="${PROBE_LIBRARY_PATH:-$lib}" \
    ${PROBE_JVM_ARG:+"$PROBE_JVM_ARG"} -cp "$classpath" jqel.deploy.LoadProbe ${PROBE_ARG:+"$PROBE_ARG"}
}

# Runs a JVM command line. The last line it prints must equal `expected`,
# and it must print no JNI warning; if quoted, every line it printed must be
# a line of the guide. (Java 8's launcher's own warning for each argument of
# main, exempt in jvm_warnings.txt, is passed over.)
expect() {
  local what=$1 quoted=$2 expected=$3
  shift 3
  local out line
  out=$("$@" 2>&1 | grep -v '^Picked up' | drop_exempt | sed "s|$lib|/opt/qel/lib|g")
  if [ "$(printf '%s\n' "$out" | tail -n 1)" != "$expected" ] || jvm_warnings <(printf '%s\n' "$out") >/dev/null; then
    fail "$what: the JVM printed"; printf '     %s\n' "$out"
    echo "     expected"; echo "     $expected"
    return
  fi
  ok "$what:"
  while IFS= read -r line; do
    if [ "$quoted" = quoted ] && ! grep -qxF -- "$line" "$guide"; then
      fail "  the guide does not quote: $line"
    else
      echo "       $line"
    fi
  done <<<"$out"
}

# Runs the loading doctor installed in $lib, with java.library.path=$lib, on
# a JVM command line, with a temporary folder of its own that holds no copy
# of a library from a jar, written /tmp, and the user's name written qel. Its
# verdict must equal `verdict`, and its exit status be 0 exactly when the
# library loaded; it must print the line `also` (or one of its lines), if
# given, and no WARNING. With "verdict" as `quoted`, the guide must quote its
# verdict line.
doctor() {
  local what=$1 quoted=$2 verdict=$3 also=$4
  shift 4
  local out rc line want=1
  mkdir -p "$work/tmp"
  out=$("$@" -Djava.library.path="$lib" -Djava.io.tmpdir="$work/tmp" -jar "$lib/jqel-doctor.jar" 2>&1)
  rc=$?
  out=$(printf '%s\n' "$out" | grep -v '^Picked up' |
        sed "s|$lib|/opt/qel/lib|g; s|$work/tmp/jqel-$(id -un)|/tmp/jqel-qel|g; s|$work/tmp|/tmp|g")
  [ "$verdict" != "Verdict: the library loaded." ] || want=0
  if [ "$(grep '^Verdict: ' <<<"$out")" != "$verdict" ] || [ "$rc" != $want ] ||
     { [ -n "$also" ] && ! grep -qxF -- "$also" <<<"$out"; } || grep -q '^WARNING' <<<"$out"; then
    fail "doctor, $what: it printed (exit status $rc)"; printf '     %s\n' "$out"
    echo "     expected"; printf '     %s\n' "$verdict" ${also:+"$also"}
    return
  fi
  ok "doctor, $what:"
  while IFS= read -r line; do
    if [ "$quoted" = verdict ] && [[ "$line" = "Verdict: "* ]] && ! grep -qxF -- "$line" "$guide"; then
      fail "  the guide does not quote: $line"
    else
      echo "       $line"
    fi
  done <<<"$out"
}

# The message that a JVM of release `feature` prints, of those given for
# Java 17 (and later), Java 11 (from 9 to 16) and Java 8.
message() {
  if [ "$1" -ge 17 ]; then echo "$2"; elif [ "$1" -ge 9 ]; then echo "$3"; else echo "$4"; fi
}

feature=$(java_feature "${java[@]}")
# Java 24 and later warn when a class on the class path loads a native
# library (checked below); every other case runs with native access enabled,
# so that it prints only what it is about.
bare_java=("${java[@]}")
[ "$feature" -lt 24 ] || java+=(--enable-native-access=ALL-UNNAMED)
fresh
# The library's bitness, from its ELF class, and the other one.
bits=$(elf_bits "$lib/libJQelAgtMsg.so")
other_bits=$(( 96 - bits ))
echo "Java $feature, a $bits-bit JVM: $("${java[@]}" -version 2>&1 | sed -n 2p)"

probe "agent libraries missing" quoted \
  "java.lang.UnsatisfiedLinkError: /opt/qel/lib/libJQelAgtMsg.so.1.0.0: libqelagtapi.so: cannot open shared object file: No such file or directory" \
  "${java[@]}"
doctor "agent libraries missing" verdict \
  "Verdict: the agent's library libqelagtapi.so was not found: put it in /opt/qel/lib, beside the library, or name its folder in LD_LIBRARY_PATH (see \"A library it depends on is missing\" in DEPLOYMENT.md)." \
  "" "${java[@]}"

cp "$build"/lib/libqelagtapi.so "$build"/lib/libJQelAgtbase.so "$lib"/
probe "agent libraries beside it" plain "loaded; QelAgtMessageSend returned 1" "${java[@]}"
doctor "agent libraries beside it" plain "Verdict: the library loaded." "" "${java[@]}"

# An agent library of another version, without one of the operations: the
# library, bound at load, fails to load, naming the symbol.
cp "$build"/lib/lacking/libqelagtapi.so "$lib"/
probe "agent library lacking an operation" quoted \
  "java.lang.UnsatisfiedLinkError: /opt/qel/lib/libJQelAgtMsg.so.1.0.0: /opt/qel/lib/libJQelAgtMsg.so.1.0.0: undefined symbol: qelagt_cma_names" \
  "${java[@]}"
doctor "agent library lacking an operation" verdict \
  "Verdict: /opt/qel/lib/libJQelAgtMsg.so.1.0.0 needs qelagt_cma_names, which no library loaded with it defines: /opt/qel/lib/libqelagtapi.so or /opt/qel/lib/libJQelAgtbase.so is from another version of the product; take all of the product's libraries from one installation of it (see \"A library it depends on lacks a function\" in DEPLOYMENT.md)." \
  "" "${java[@]}"
cp "$build"/lib/libqelagtapi.so "$lib"/

# Java 24 and later: their warning when a class on the class path loads a
# native library, quoted by the guide; none with native access enabled, nor
# for the doctor, whose jar enables it.
if [ "$feature" -ge 24 ]; then
  cp "${classpath#*:}" "$lib/jqel-api.jar"
  for access in "" --enable-native-access=ALL-UNNAMED; do
    what="Java $feature${access:+ with $access}"
    out=$("${bare_java[@]}" $access -Djava.library.path="$lib" -cp "${classpath%%:*}:$lib/jqel-api.jar" \
          jqel.deploy.LoadProbe 2>&1 | sed "s|$lib|/opt/qel/lib|g")
    warnings=$(grep '^WARNING' <<<"$out")
    # A warning without native access enabled, none with it.
    warned=yes expected=yes
    [ -n "$warnings" ] || warned=no
    [ -z "$access" ] || expected=no
    if ! grep -qx 'loaded; QelAgtMessageSend returned 1' <<<"$out" || [ "$warned" != "$expected" ]; then
      fail "$what: the JVM printed"; printf '     %s\n' "$out"
      continue
    fi
    ok "$what: warned $warned"
    while IFS= read -r line; do
      [ -z "$line" ] || grep -qxF -- "$line" "$guide" || fail "  the guide does not quote: $line"
    done <<<"$warnings"
  done
  doctor "Java $feature" plain "Verdict: the library loaded." "" "${bare_java[@]}"
fi

mkdir -p "$work/empty"
PROBE_LIBRARY_PATH=$work/empty PROBE_JVM_ARG=-Djqel.library=$lib/libJQelAgtMsg.so \
  probe "full path in jqel.library" plain "loaded; QelAgtMessageSend returned 1" "${java[@]}"

# The library carried in a jar, the Maven artifact jqel-native of this
# platform, with no folder of java.library.path holding it: the load copies
# it below jqel.native.dir and loads the copy, which finds the agent's
# libraries through LD_LIBRARY_PATH (for a JVM started through its own
# dynamic loader, the loader's --library-path, which stands in for it). The
# doctor lists that copy. A second JVM reuses a good copy, a copy that is
# not the jar's is replaced, and a folder that others may write is refused.
native_jar=$(ls "$lib"/maven/com/brenn/varnis/tq/api/jqel-native/*/jqel-native-*.jar)
agent_path=("${java[@]}")
if [[ " ${java[*]} " == *" --library-path "* ]]; then
  for i in "${!agent_path[@]}"; do
    [ "${agent_path[$i]}" != --library-path ] || agent_path[i+1]+=":$build/lib"
  done
else
  agent_path=(env "LD_LIBRARY_PATH=$build/lib" "${java[@]}")
fi
carried() {  # <what> <jqel.native.dir> <expected>
  classpath="$classpath:$native_jar" PROBE_LIBRARY_PATH=$work/empty PROBE_JVM_ARG=-Djqel.native.dir=$2 \
    probe "$1" plain "$3" "${agent_path[@]}"
}
rm -rf "$work/native"  # copies an earlier run left
carried "library carried in a jar" "$work/native" "loaded; QelAgtMessageSend returned 1"
copy=$(ls "$work"/native/*/libJQelAgtMsg.so)
entry=META-INF/native/jqel/$(basename "$native_jar" .jar | sed 's/^jqel-native-[^-]*-//')/libJQelAgtMsg.so
check "the copy is the jar's library" cmp -s "$copy" <(jar_entry "$native_jar" "$entry")
# The doctor, given the same jqel.native.dir, lists that copy with the
# version it records, which begins the name of its folder. A 32-bit JVM on a
# 64-bit kernel may fail to list a folder whose entries have 64-bit inode
# numbers: there the doctor may say so instead.
label=$(basename "$(dirname "$copy")")
listed="  $copy: version ${label%-*}"
[ "$bits" = 64 ] || listed+=$'\n'"  $work/native: cannot be listed: Value too large for defined data type"
doctor "library carried in a jar: the loader's copy" plain "Verdict: the library loaded." "$listed" \
  "${java[@]}" -Djqel.native.dir="$work/native"
inode=$(stat -c %i "$copy")
carried "library carried in a jar, a second JVM" "$work/native" "loaded; QelAgtMessageSend returned 1"
if [ "$(stat -c %i "$copy")" = "$inode" ]; then ok "  the second JVM took the same copy"; else fail "  the second JVM made a new copy"; fi
printf 'x' >>"$copy"
carried "library carried in a jar, a bad copy there" "$work/native" "loaded; QelAgtMessageSend returned 1"
check "  the bad copy was replaced by the jar's library" cmp -s "$copy" <(jar_entry "$native_jar" "$entry")
mkdir -p "$work/open" && chmod 777 "$work/open"
carried "library carried in a jar, a folder others may write" "$work/open" \
  "java.lang.UnsatisfiedLinkError: cannot copy the library that jar:file:${native_jar/$lib//opt/qel/lib}!/$entry carries into $work/open: $work/open may be written by users other than its owner; name another folder with -Djqel.native.dir=<folder>"

PROBE_ARG=other-package probe "class in another package" quoted \
  "$(message "$feature" "java.lang.UnsatisfiedLinkError: 'int com.example.JQelAgentMessage.QelAgtMessageSend(long)'" \
     "java.lang.UnsatisfiedLinkError: 'int com.example.JQelAgentMessage.QelAgtMessageSend(long)'" \
     "java.lang.UnsatisfiedLinkError: com.example.JQelAgentMessage.QelAgtMessageSend(J)I")" \
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

# The library in each JVM of the other bitness.
wrong_elf() {  # <feature> <library path> <library bits> <JVM bits>
  local older="java.lang.UnsatisfiedLinkError: $2: $2: wrong ELF class: ELFCLASS$3 (Possible cause: architecture word width mismatch)"
  message "$1" \
    "java.lang.UnsatisfiedLinkError: $2: $2: wrong ELF class: ELFCLASS$3 (Possible cause: can't load $(jvm_machine "$3") .so on a $(jvm_machine "$4") platform)" \
    "$older" "$older"
}
wrong_bits() {  # <library bits> <JVM bits>: the guide's section
  echo "A $1-bit library in a $2-bit JVM"
}
# Loads the installed library, built for `lib_bits`, in a JVM of
# `jvm_bits` and release `feature`: the JVM's message and the doctor's
# verdict.
# usage: wrong_bitness <lib_bits> <jvm_bits> <feature> <java...>
wrong_bitness() {
  local lib_bits=$1 jvm_bits=$2 f=$3
  shift 3
  probe "$(wrong_bits "$lib_bits" "$jvm_bits"), Java $f" quoted \
    "$(wrong_elf "$f" /opt/qel/lib/libJQelAgtMsg.so.1.0.0 "$lib_bits" "$jvm_bits")" "$@"
  doctor "$(wrong_bits "$lib_bits" "$jvm_bits"), Java $f" plain \
    "Verdict: /opt/qel/lib/libJQelAgtMsg.so is a $lib_bits-bit library, and this JVM is $jvm_bits-bit: run the program with a $lib_bits-bit JVM (see \"$(wrong_bits "$lib_bits" "$jvm_bits")\" in DEPLOYMENT.md)." \
    "File: /opt/qel/lib/libJQelAgtMsg.so -> /opt/qel/lib/libJQelAgtMsg.so.1.0.0: ELF $(elf_machine "$lib_bits") (ELFCLASS$lib_bits), built for $(file_machine "$lib_bits"), the JVM for $(doctor_jvm "$jvm_bits")" \
    "$@"
}
IFS='|' read -r -a other_jvms <<<"$others"
for other in "${other_jvms[@]}"; do
  IFS=';' read -r -a jvm <<<"$other"
  jvm+=(-Xcheck:jni)
  wrong_bitness "$bits" "$other_bits" "$(java_feature "${jvm[@]}")" "${jvm[@]}"
done

# The library built from the same sources for the other bitness in its place
# (the versioned file, which libJQelAgtMsg.so links to), in this JVM.
versioned=$(readlink -f "$lib/libJQelAgtMsg.so")
cp "$other_library" "$versioned" || fail "no library of the other bitness to load: $other_library"
wrong_bitness "$other_bits" "$bits" "$feature" "${java[@]}"

rm -rf "$lib" && mkdir -p "$lib"
probe "library not on java.library.path" quoted \
  "$(message "$feature" "java.lang.UnsatisfiedLinkError: no JQelAgtMsg in java.library.path: /opt/qel/lib" \
     "java.lang.UnsatisfiedLinkError: no JQelAgtMsg in java.library.path: [/opt/qel/lib]" \
     "java.lang.UnsatisfiedLinkError: no JQelAgtMsg in java.library.path")" "${java[@]}"
exit "$status"
