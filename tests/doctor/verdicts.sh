#!/bin/bash
# shellcheck disable=SC2016 # the rows, and the texts they take, are meant literally: the doctor's
# output has $W for the row's folder, and each change is run by eval in that folder
# The loading doctor's verdicts, one row each, for what needs a whole run of
# a real JVM: each kind of verdict once per system, the project's own built
# libraries, Java 8's reading of java.library.path, and the guide's Windows
# sample. Each loader rule is judged in-process by the doctor's unit tests
# (tests/doctor/unit, ctest entry doctor_unit). A row lays out a folder tree
# around one of the project's own built libraries (the 32-bit and the 64-bit
# Windows DLL, the x86-64 and the i386 Linux library) with all it needs in
# place, makes one change, runs `java -jar jqel-doctor.jar` there and fails
# unless the verdict line begins as the row says, the exit status is 0 exactly
# when the library loaded, and the output holds each of the row's lines (one
# that begins so, for one marked with "^"; none that contains one marked with
# "!"). A run that hangs fails after two minutes.
#
# The Windows rows give the doctor a Windows JVM's facts through its test
# properties (jqel.doctor.*), so that its Windows search runs here. This JVM
# cannot load a DLL: with the files right, their verdict says so. The Linux
# rows take the library of the JVM's own bitness (64-bit, or 32-bit in a
# 32-bit JVM), and the other one where they say so. Every section a verdict
# or a warning cites must be one of the deployment guide's, and no output may
# hold a stack trace. Last, the guide's Windows sample must be what the
# doctor prints for the 32-bit DLL deployed as the guide says, without the
# agent's DLL (see `windows_sample`).
# usage: verdicts.sh <scratch> <jqel-doctor.jar> <guide> <version> <linux build> <linux-x86 build>
#                    <x86 DLL> <folder of the doctor's i386 test DLLs>
#                    <folder of the x64 DLL and its stand-ins> <java...>
# (<version>: the project's, which the libraries record)
set -u
work=$(realpath -m "$1") jar=$(realpath "$2") guide=$3 version=$4 linux64=$5 linux32=$6
dll86=$(realpath "$7") dlls=$(realpath "$8") x64=$(realpath "$9")
shift 9
java=("$@")
# shellcheck source=SCRIPTDIR/../lib.sh
source "$(dirname "$0")/../lib.sh"
rm -rf "$work" && mkdir -p "$work"

# The JVM's bitness and the other one.
bits=$(jvm_property sun.arch.data.model "${java[@]}")
other=$((96 - bits))
echo "JVM: $("${java[@]}" -version 2>&1 | sed -n 2p), $bits-bit"
# The version as the DLL's resource gives it, and how this JVM's release
# reads a java.library.path entry in quotes: Java 8 keeps them.
dll_version="$version, BuildDate "
quoted='nothing the doctor checks is wrong'
if [ "$(java_feature "${java[@]}")" = 8 ]; then
  quoted='JQelAgtMsg.dll is in no folder of java.library.path: its entry "$W/lib" is in quotes, which Java 8 keeps as part of the folder'"'"'s name: remove the quotes'
fi

# The Linux libraries as the release archive holds them (run path $ORIGIN),
# with the stand-ins of the agent's libraries beside them.
for b in 64 32; do
  build=linux$b
  cmake --install "${!build}" --prefix "$work/linux$b" >/dev/null || exit 1
  cp "${!build}"/lib/libqelagtapi.so "${!build}"/lib/libJQelAgtbase.so "$work/linux$b/"
done

sxs=x86_microsoft.vc80.crt_1fc8b3b9a1e18e3b_8.0.50727.762_none_10b2f55f9bffb8f8

# lay <layout>, in the row's folder: lib/ holds the library and is
# java.library.path; for Windows, prod/ holds the agent's DLLs and is PATH,
# jre/bin/java.exe is the program, win/ the Windows folder. The doctor neither
# follows nor checks the DLLs of the system folder, so any DLL stands for them.
# The i386 DLLs that the x86 DLL imports are the doctor's test DLLs. Each is
# named as its importer names it: on this file system, names have their case.
lay() {
  args=(-Djava.library.path="$PWD/lib")
  mkdir lib
  case $1 in
    x86|x64)
      mkdir -p prod jre/bin win/System win/System32
      args+=(-Djqel.doctor.os=windows -Djqel.doctor.windir="$PWD/win"
             -Djqel.doctor.command="$PWD/jre/bin/java.exe" -Djqel.doctor.path="$PWD/prod") ;;
  esac
  case $1 in
    x86)
      # A 32-bit JVM on 64-bit Windows.
      mkdir -p win/SysWOW64 "win/WinSxS/$sxs"
      args+=(-Djqel.doctor.arch=x86)
      cp "$dll86" lib/JQelAgtMsg.dll
      cp "$dlls"/agent.dll prod/libqelagtapi.dll && cp "$dlls"/converter.dll prod/JQelAgtbase.dll
      cp "$dlls"/msvcr80.dll "win/WinSxS/$sxs/msvcr80.dll" ;;
    x64)
      args+=(-Djqel.doctor.arch=amd64)
      cp "$x64"/JQelAgtMsg.dll lib/ && cp "$x64"/libqelagtapi.dll "$x64"/JQelAgtbase.dll prod/
      cp "$x64"/libqelagtapi.dll win/System32/msvcrt.dll && cp "$x64"/libqelagtapi.dll win/System32/KERNEL32.dll ;;
    linux)
      cp -a "$work/linux$bits/." lib/ ;;
    linux-other)
      cp -a "$work/linux$other/." lib/ ;;
  esac
}

# For a row that denies read access: root reads any file through its
# capabilities CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH, so the doctor then
# runs without them (still as root, which may run the JVMs in its home).
# shellcheck disable=SC2317 # called from the rows' changes, which eval runs
unprivileged() {
  chmod 000 "$1"
  if [ "$(id -u)" = 0 ]; then
    run_as=(setpriv "--bounding-set=-dac_override,-dac_read_search")
  fi
}

# name | layout | change, run in the row's folder (may add JVM arguments to args) |
# how the verdict begins ($W: the row's folder) | lines the output holds ("!": holds no line containing it)
vc80='the side-by-side assembly Microsoft.VC80.CRT, x86, public key token 1fc8b3b9a1e18e3b, version 8.0.50727.762 that the manifest of JQelAgtMsg.dll names is not in $W/win/WinSxS nor beside it'
vc80_package='install the Microsoft Visual C++ 2005 SP1 Redistributable Package (x86), 8.0.50727.762 or later, also on 64-bit Windows'
rows=(
  'x86: all in place|x86|:|nothing the doctor checks is wrong, but the JVM cannot load the library: look up the JVM'"'"'s error|^Version: FileVersion {dll_version}|Doctor: jqel-doctor {version}'
  'x86: agent DLL missing|x86|rm prod/libqelagtapi.dll|the agent'"'"'s library libqelagtapi.dll was not found: put the folder that holds it on PATH|Fault: libqelagtapi.dll is in none of the folders Windows looks in'
  'x86: only a 64-bit agent DLL|x86|cp "$x64"/libqelagtapi.dll prod/|the agent'"'"'s library libqelagtapi.dll was not found for this 32-bit JVM: only a 64-bit libqelagtapi.dll is there, at $W/prod/libqelagtapi.dll: put the folder that holds one built for x86 (32-bit) on PATH (see "A library it depends on is built for the other bitness"'
  'x86: agent DLL lacking ordinal 40|x86|cp "$dlls"/agent-lacking-40.dll prod/libqelagtapi.dll|the agent'"'"'s library libqelagtapi.dll at $W/prod/libqelagtapi.dll lacks ordinal 40, which JQelAgtMsg.dll needs: it is from another version of the product than JQelAgtMsg.dll; put the folder of the right libqelagtapi.dll on PATH before $W/prod (see "A library it depends on lacks a function"|  libqelagtapi.dll: $W/prod/libqelagtapi.dll, PE i386 (32-bit); lacks ordinal 40'
  'x86: a stale agent DLL in SysWOW64|x86|cp "$dlls"/agent-lacking-40.dll win/SysWOW64/libqelagtapi.dll|the agent'"'"'s library libqelagtapi.dll at $W/win/SysWOW64/libqelagtapi.dll lacks ordinal 40, which JQelAgtMsg.dll needs: it is from another version of the product than JQelAgtMsg.dll; remove $W/win/SysWOW64/libqelagtapi.dll'
  'x86: agent DLLs beside the library, not on PATH|x86|mv prod/*.dll lib/|the product'"'"'s converter JQelAgtbase.dll is beside JQelAgtMsg.dll in $W/lib, where Windows does not look for it: put $W/lib on PATH'
  'x86: side-by-side runtime absent|x86|rm -r win/WinSxS/*|a component that the library JQelAgtMsg.dll needs is not installed: Microsoft.VC80.CRT version 8.0.50727.762: '"$vc80_package|Fault: $vc80"
  'x86: java.library.path in quotes|x86|args+=(-Djava.library.path="\"$PWD/lib\"")|{quoted}'
  'x86: Java 8 in a JDK, the agent DLL only in jdk\jre\bin|x86|mkdir -p jdk/bin jdk/jre/bin && touch jdk/bin/java.exe && mv prod/libqelagtapi.dll jdk/jre/bin/ && args+=(-Djqel.doctor.command= -Djqel.doctor.javahome="$PWD/jdk/jre")|the agent'"'"'s library libqelagtapi.dll is only in $W/jdk/jre/bin, which Windows searches only when the program is the java.exe there|  not $W/jdk/bin: the program'"'"'s folder only if it holds the java.exe that runs, which Java 8 does not say'
  'x86: jqel.doctor.program names no file|x86|args+=(-Djqel.doctor.program="$PWD/svc/service.exe")|jqel.doctor.program names $W/svc/service.exe, which is no file'
  'x86: in a 64-bit JVM, nothing judged against it|x86|args+=(-Djqel.doctor.arch=amd64)|$W/lib/JQelAgtMsg.dll is a 32-bit library, and this JVM is 64-bit: run the program with a 32-bit JVM (see "A 32-bit library in a 64-bit JVM"|Fault: $W/lib/JQelAgtMsg.dll is built for i386 (32-bit), the JVM for amd64 (64-bit)|!Needs|!Load:'
  'x86: DLL truncated|x86|head -c 62 "$dll86" >lib/JQelAgtMsg.dll|$W/lib/JQelAgtMsg.dll is truncated or corrupt: its headers point to byte 60, but it has 62 bytes: copy it again from the release archive, where certutil -hashfile JQelAgtMsg.dll SHA256 must print the sum that SHA256SUMS lists|!Load:'
  'x86: agent DLL unreadable|x86|unprivileged prod/libqelagtapi.dll|Windows finds the agent'"'"'s library libqelagtapi.dll first at $W/prod/libqelagtapi.dll, which cannot be read: permission denied: let the user that runs Java read it'
  'x86: the library in the current folder, which java.library.path does not name|x86|mv lib/JQelAgtMsg.dll .|JQelAgtMsg.dll is in the current folder, which is not on java.library.path: name $W in -Djava.library.path, give -Djqel.library=$W/JQelAgtMsg.dll, or put jqel-native-{version}-windows-x86.jar on the program'"'"'s class path (see "The library is not in any folder of java.library.path"'
  'x64: named by jqel.library in a 32-bit JVM|x64|args+=(-Djqel.doctor.arch=x86 -Djqel.library="$PWD/lib/JQelAgtMsg.dll")|$W/lib/JQelAgtMsg.dll is a 64-bit library, and this JVM is 32-bit: name the 32-bit JQelAgtMsg.dll in -Djqel.library: the product'"'"'s DLLs are 32-bit only (see "A 64-bit library in a 32-bit JVM"'
  'linux: all in place|linux|:|the library loaded.|Symbols: each one needed is defined|Version: {version}'
  'linux: agent library missing|linux|rm lib/libqelagtapi.so|the agent'"'"'s library libqelagtapi.so was not found: put it in $W/lib, beside the library, or name its folder in LD_LIBRARY_PATH'
  'linux: agent library lacking an operation|linux|cp "$work"/lacking$bits/libqelagtapi.so lib/|$W/lib/libJQelAgtMsg.so.1.0.0 needs qelagt_cma_names, which no library loaded with it defines: $W/lib/libqelagtapi.so or $W/lib/libJQelAgtbase.so is from another version of the product|Load: java.lang.UnsatisfiedLinkError: $W/lib/libJQelAgtMsg.so.1.0.0: $W/lib/libJQelAgtMsg.so.1.0.0: undefined symbol: qelagt_cma_names'
  'linux: one of the other bitness on LD_LIBRARY_PATH is passed over|linux|mkdir lo && cp "$work"/linux$other/libqelagtapi.so lo/ && export LD_LIBRARY_PATH=$PWD/lo|the library loaded.|  $W/lo (LD_LIBRARY_PATH)'
  'linux: only a converter library of the other bitness|linux|cp "$work"/linux$other/libJQelAgtbase.so lib/|the product'"'"'s converter libJQelAgtbase.so was not found for this {bits}-bit JVM: only a {other}-bit libJQelAgtbase.so is there, at $W/lib/libJQelAgtbase.so|Fault: libJQelAgtbase.so is in none of the folders Linux looks in; only a {other}-bit libJQelAgtbase.so is there, at $W/lib/libJQelAgtbase.so, which Linux passes over'
  'linux: library folder in java.library.path does not exist|linux|args+=(-Djava.library.path="$PWD/none")|libJQelAgtMsg.so is in no folder of java.library.path|  $W/none: no such folder'
  'linux: a folder named like the library|linux|rm lib/libJQelAgtMsg.so && mkdir lib/libJQelAgtMsg.so|$W/lib/libJQelAgtMsg.so is a folder: put the library file in its place'
  'linux: library truncated|linux|truncate -s 100 lib/libJQelAgtMsg.so.1.0.0|$W/lib/libJQelAgtMsg.so is truncated or corrupt|!Load:'
  'linux: library unreadable|linux|unprivileged lib/libJQelAgtMsg.so.1.0.0|$W/lib/libJQelAgtMsg.so cannot be read: permission denied'
  'linux: jqel.library not a full path|linux|args+=(-Djqel.library=lib/libJQelAgtMsg.so)|jqel.library is not a full path: lib/libJQelAgtMsg.so'
  'linux: jqel.library, found by full path alone|linux|args+=(-Djqel.library="$PWD/lib/libJQelAgtMsg.so" -Djava.library.path=)|the library loaded.'
  'linux: jqel.library names a named pipe|linux|mkfifo lib/pipe && args+=(-Djqel.library="$PWD/lib/pipe")|$W/lib/pipe is no regular file, but a named pipe, a device or a socket: give the library file'"'"'s full path'
  'linux: a copy in the JVM'"'"'s own folder loads: the model'"'"'s fault is a warning|linux|mkdir jvm && cp -a lib/. jvm/ && args+=(-Djqel.doctor.bootpath="$PWD/jvm")|the library loaded.|Load: loaded|^Warning: the library loaded, but the doctor'"'"'s model of the loader finds a fault, which another process or a change to this machine may meet: $W/jvm/libJQelAgtMsg.so.1.0.0, in the JVM'"'"'s own folder, comes before $W/lib/libJQelAgtMsg.so of java.library.path'
  'linux: a linker script first on LD_LIBRARY_PATH|linux|mkdir ld && echo "/* GNU ld script */ GROUP ( libqelagtapi.so.1 AS_NEEDED ( libqelagtcore.so.1 ) )" >ld/libqelagtapi.so && export LD_LIBRARY_PATH=$PWD/ld|Linux finds the agent'"'"'s library libqelagtapi.so first at $W/ld/libqelagtapi.so, which is not a library: neither a PE (Windows) nor an ELF (Linux) file|Fault: $W/ld/libqelagtapi.so, the first libqelagtapi.so that Linux finds, is not a library: neither a PE (Windows) nor an ELF (Linux) file: ld.so stops there, with "invalid ELF header"|^Load: java.lang.UnsatisfiedLinkError: $W/lib/libJQelAgtMsg.so.1.0.0: $W/ld/libqelagtapi.so: invalid ELF header'
  'linux: an unreadable agent library first on LD_LIBRARY_PATH is passed over, as ld.so does|linux|mkdir ld && cp lib/libqelagtapi.so ld/ && unprivileged ld/libqelagtapi.so && export LD_LIBRARY_PATH=$PWD/ld|the library loaded.|!Warning'
  'linux: a copy in the current folder, where java.library.path finds the library: a note|linux|cp lib/libJQelAgtMsg.so.1.0.0 libJQelAgtMsg.so|the library loaded.|Note: libJQelAgtMsg.so is also in the current folder, which is not on java.library.path: $W/libJQelAgtMsg.so; Java takes $W/lib/libJQelAgtMsg.so.'
  'linux: the library of the other bitness|linux-other|:|$W/lib/libJQelAgtMsg.so is a {other}-bit library, and this JVM is {bits}-bit: run the program with a {other}-bit JVM|Fault: $W/lib/libJQelAgtMsg.so is built for {other_machine} ({other}-bit), the JVM for {jvm}|!Load:'
)

# The agent stand-ins that lack an operation, one per bitness.
mkdir -p "$work/lacking64" "$work/lacking32"
cp "$linux64"/lib/lacking/libqelagtapi.so "$work/lacking64/"
cp "$linux32"/lib/lacking/libqelagtapi.so "$work/lacking32/"

n=0
for row in "${rows[@]}"; do
  row=${row//\{bits\}/$bits}
  row=${row//\{other\}/$other}
  row=${row//\{machine\}/$(elf_machine "$bits")}
  row=${row//\{other_machine\}/$(elf_machine "$other")}
  row=${row//\{jvm\}/$(doctor_jvm "$bits")}
  row=${row//\{quoted\}/$quoted}
  row=${row//\{version\}/$version}
  row=${row//\{dll_version\}/$dll_version}
  IFS='|' read -r name layout change verdict lines <<<"$row"
  IFS='|' read -ra lines <<<"$lines"
  n=$((n + 1))
  dir=$work/$n
  mkdir -p "$dir"
  run_as=()
  out=$(cd "$dir" && lay "$layout" && eval "$change" &&
        timeout 120 "${run_as[@]}" "${java[@]}" "${args[@]}" -jar "$jar" 2>&1)
  rc=$?
  out=${out//"$dir"/'$W'}
  got=$(grep '^Verdict: ' <<<"$out")
  problems=()
  [[ "$got" == "Verdict: $verdict"* ]] || problems+=("verdict")
  want=1
  [ "$verdict" != "the library loaded." ] || want=0
  [ $rc = $want ] || problems+=("exit status $rc")
  for line in "${lines[@]}"; do
    case $line in
      '!'*) ! grep -qF -- "${line#!}" <<<"$out" || problems+=("a line with: ${line#!}") ;;
      '^'*) grep -q "^$(sed 's/[][\.*^$/]/\\&/g' <<<"${line#^}")" <<<"$out" || problems+=("no line beginning: ${line#^}") ;;
      *) grep -qxF -- "$line" <<<"$out" || problems+=("no line: $line") ;;
    esac
  done
  ! grep -qE '^\s+at |Exception in thread' <<<"$out" || problems+=("a stack trace")
  while IFS= read -r section; do
    [ -z "$section" ] || sed 's/`//g' "$guide" | grep -qxF -e "# $section" -e "## $section" -e "**$section.**" ||
      problems+=("the guide has no section \"$section\"")
  done < <(grep -E '^(Verdict|Warning): ' <<<"$out" | sed -n 's/.* (see "\(.*\)" in DEPLOYMENT.md)\.$/\1/p')
  if [ ${#problems[@]} -eq 0 ]; then
    ok "$name"
  else
    fail "$name: $(IFS=,; echo "${problems[*]}")"
    echo "     expected: Verdict: $verdict${lines:+; and the lines: ${lines[*]}}"
    printf '     %s\n' "$out"
  fi
done
# The guide's sample of the doctor on Windows: the 32-bit DLL deployed as the
# guide says, in C:\qel\bin beside the product's DLLs, but for the agent's;
# a 32-bit Java 8 JRE; the program started in C:\qel by the user qel, whose
# temporary folder holds no copy of a library from a jar. The tree stands for
# C:, its folders named as on Windows; the output, with the tree written as C:
# and every / as \, must be the guide's block that holds its verdict, line for
# line, but for the "JVM:" line and the "Load:" line, which a Linux JVM cannot
# print as a Windows one does: there the guide gives Windows' lines; and the
# "Version:" line, whose BuildDate is the day of the build. (The
# Linux JVM's warning on its failed load of the DLL is dropped.)
windows_sample() {
  local root=$work/sample jre="$work/sample/Program Files (x86)/Java/jre1.8.0" out block got want i line
  mkdir -p "$root/qel/bin" "$root/Windows/SysWOW64" "$root/Windows/System" "$root/Windows/WinSxS/$sxs" "$jre/bin"
  cp "$dll86" "$root/qel/bin/JQelAgtMsg.dll" && cp "$dlls"/converter.dll "$root/qel/bin/JQelAgtbase.dll"
  cp "$dlls"/msvcr80.dll "$root/Windows/WinSxS/$sxs/msvcr80.dll"
  out=$(cd "$root/qel" && timeout 120 "${java[@]}" -Djqel.doctor.os="Windows 10 10.0" -Djqel.doctor.arch=x86 \
        -Djqel.doctor.windir="$root/Windows" -Djqel.doctor.javahome="$jre" -Djqel.doctor.bootpath="$jre/bin" \
        -Djqel.doctor.command= -Djqel.doctor.path="$root/qel/bin" -Djava.library.path="$root/qel/bin" \
        -Duser.name=qel -Djava.io.tmpdir="$root/Users/qel/AppData/Local/Temp" -jar "$jar" 2>&1)
  out=$(printf '%s\n' "$out" | grep -v -e 'VM warning: You have loaded library' -e "^It's highly recommended" |
        sed "s|$root|C:|g; s|/|\\\\|g")
  # The fenced block of the guide that holds the verdict line.
  block=$(VERDICT=$(grep '^Verdict: ' <<<"$out") awk '
    /^```/ { if (inside && found) { printf "%s", text; exit } inside = !inside; text = ""; found = 0; next }
    inside { text = text $0 "\n"; if ($0 == ENVIRON["VERDICT"]) found = 1 }' "$guide")
  mapfile -t got <<<"$out"
  mapfile -t want <<<"$block"
  local problems=()
  [ ${#got[@]} = ${#want[@]} ] || problems+=("a block of ${#want[@]} lines, not ${#got[@]}")
  for i in "${!got[@]}"; do
    [ ${#got[@]} = ${#want[@]} ] || break
    line=${want[$i]-}
    case ${got[$i]} in
      'JVM: '*|'Load: '*|'Version: '*) [ "${line%%:*}" = "${got[$i]%%:*}" ] || problems+=("line $((i + 1)): ${line:-none}") ;;
      *) [ "$line" = "${got[$i]}" ] || problems+=("line $((i + 1)): ${line:-none}") ;;
    esac
  done
  if [ ${#problems[@]} -eq 0 ]; then
    ok "the guide's Windows sample"
  else
    fail "the guide's Windows sample: the doctor printed"
    printf '     %s\n' "${got[@]}"
    echo "     where the guide has"; printf '     %s\n' "${problems[@]}"
  fi
}
windows_sample

# -h and --help print the usage alone, and exit 0; any other argument prints
# it on standard error, and exits 2. Neither runs the diagnosis. (Java 8's
# launcher's own warning for the argument of main is passed over.)
for arg in -h --help --verbose; do
  out=$(cd "$work" && timeout 120 "${java[@]}" -jar "$jar" "$arg" 2>"$work/usage.err")
  rc=$?
  out=$(printf '%s\n' "$out" | drop_exempt) err=$(drop_exempt <"$work/usage.err") usage_rc=0
  usage=$out other=$err
  if [ "$arg" = --verbose ]; then
    usage_rc=2 usage=$err other=$out
  fi
  if [ "$rc" = "$usage_rc" ] && grep -q '^Usage: ' <<<"$usage" && [ -z "$other" ] && ! grep -q Verdict <<<"$usage"; then
    ok "the doctor with $arg: its usage, exit status $rc"
  else
    fail "the doctor with $arg: exit status $rc, standard output and error:"
    printf '     %s\n' "$out" "$err"
  fi
done
exit "$status"
