#!/bin/bash
# Makes the release archives twice from this source tree, in separate build
# trees and at different times, and fails unless both runs give the same
# bytes and each archive holds exactly the library, the Java classes
# jqel-api.jar and the loading doctor jqel-doctor.jar (both of class files of
# Java 8, major version 52), DEPLOYMENT.md, the Maven repository folder
# maven/ and a SHA256SUMS of all of them that checks; in the Windows archive
# the guide and SHA256SUMS end their lines in CRLF, in the Linux one in LF.
# The archive's DLL, the very bytes users get, must
# pass the native suite (built for i386 Linux, run under qemu-i386) against
# the stand-in agent with __cdecl and with __stdcall operations, and the JUnit
# suite in the real 32-bit JVM, with the archive's jqel-api.jar. The Linux
# library must carry its SONAME and be bound at load (BIND_NOW).
# usage: reproducible.sh <scratch-dir> <qemu-i386> <folder of jqel_dll_tests_*>
#          <folder of the suite's jars> <the JUnit suite's command line for run_junit.sh...>
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$1 qemu=$2 runner=$3 runner_java=$4
shift 4
junit=("$@")
rm -rf "$work" && mkdir -p "$work"
for run in first second; do
  JQEL_BUILD_ROOT=$work/$run-build JQEL_DIST=$work/$run bash "$src/tools/release.sh" >/dev/null
  sleep 1
done

version=$(sed -n 's/^project(JQelAgtMsg VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
status=0
for archive in JQelAgtMsg-$version-windows-x86.zip JQelAgtMsg-$version-linux-x86_64.tar.gz; do
  if cmp "$work/first/$archive" "$work/second/$archive"; then
    echo "ok   $archive: both runs byte-identical"
  else
    echo "FAIL $archive: the runs differ"; status=1
  fi
  unpacked=$work/unpacked/$archive
  mkdir -p "$unpacked"
  case $archive in
    *.zip) (cd "$unpacked" && python3 -m zipfile -e "$work/first/$archive" .) ;;
    *) tar -xzf "$work/first/$archive" -C "$unpacked" ;;
  esac
  top=$unpacked/${archive%.zip}
  top=${top%.tar.gz}
  maven=
  for f in jqel-api-$version.jar jqel-api-$version.pom jqel-api-$version-sources.jar jqel-api-$version-javadoc.jar; do
    for suffix in "" .md5 .sha1; do maven+=" maven/com/brenn/varnis/tq/api/jqel-api/$version/$f$suffix"; done
  done
  case $archive in
    *.zip) expected="DEPLOYMENT.md JQelAgtMsg.dll SHA256SUMS jqel-api.jar jqel-doctor.jar$maven" ;;
    *) expected="DEPLOYMENT.md SHA256SUMS jqel-api.jar jqel-doctor.jar libJQelAgtMsg.so libJQelAgtMsg.so.1 libJQelAgtMsg.so.$version$maven" ;;
  esac
  actual=$(cd "$top" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
  expected=$(echo $expected | tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$actual" = "$expected" ]; then
    echo "ok   $archive holds: $actual"
  else
    echo "FAIL $archive holds: $actual; expected: $expected"; status=1
  fi
  for jar in jqel-api.jar jqel-doctor.jar; do
    majors=$(python3 -c 'import sys, zipfile
jar = zipfile.ZipFile(sys.argv[1])
print(" ".join(sorted({str(int.from_bytes(jar.read(n)[6:8], "big")) for n in jar.namelist() if n.endswith(".class")})))' \
      "$top/$jar" 2>&1)
    if [ "$majors" = 52 ]; then
      echo "ok   $archive: $jar holds class files of Java 8 only"
    else
      echo "FAIL $archive: $jar holds class files of major versions: $majors"; status=1
    fi
  done
  # Lines end in CRLF in the Windows archive's text files, in LF elsewhere.
  for text in DEPLOYMENT.md SHA256SUMS; do
    ends=$(python3 -c 'import sys; b = open(sys.argv[1], "rb").read(); n = b.count(b"\n"); c = b.count(b"\r\n")
print("CRLF" if n and c == n else "LF" if not c else "mixed")' "$top/$text")
    want=LF
    [[ $archive != *.zip ]] || want=CRLF
    [ "$ends" = $want ] && echo "ok   $archive: $text ends its lines in $want" ||
      { echo "FAIL $archive: $text ends its lines in $ends, not $want"; status=1; }
  done
  listed=$(tr -d '\r' <"$top/SHA256SUMS" | sed 's/^[0-9a-f]*  //' | LC_ALL=C sort)
  files=$(cd "$top" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
  [ "$listed" = "$files" ] || { echo "FAIL $archive: SHA256SUMS lists: $listed"; status=1; }
  if (cd "$top" && sha256sum --quiet -c SHA256SUMS); then
    echo "ok   $archive: SHA256SUMS checks"
  else
    echo "FAIL $archive: SHA256SUMS does not check"; status=1
  fi
done
dll=$work/unpacked/JQelAgtMsg-$version-windows-x86.zip/JQelAgtMsg-$version-windows-x86/JQelAgtMsg.dll
for convention in cdecl stdcall; do
  if JQEL_BRIDGE_DLL=$dll "$qemu" "$runner/jqel_dll_tests_$convention" >"$work/dll_suite_$convention.log" 2>&1; then
    echo "ok   the archive's DLL passes the native suite, agent $convention"
  else
    echo "FAIL the archive's DLL fails the native suite, agent $convention:"
    grep -E 'Failure|FAILED|Expected|Which is|: ' "$work/dll_suite_$convention.log" | head -n 40
    status=1
  fi
done
# The suite against the archive's jqel-api.jar too, in place of the build's.
api=$(dirname "$dll")/jqel-api.jar
junit=("${junit[@]//$runner_java\/jqel-api.jar/$api}")
if JQEL_BRIDGE_DLL=$dll bash "$src/tests/java/run_junit.sh" "$work/dll_junit.log" "${junit[@]}" >/dev/null 2>&1; then
  echo "ok   the archive's DLL and jqel-api.jar pass the JUnit suite in the 32-bit JVM, $(sed -n 's/^JVM: //p' "$work/dll_junit.log"), agent stdcall"
else
  echo "FAIL the archive's DLL fails the JUnit suite in the 32-bit JVM:"
  grep -E '\[X\]|FAILED|WARNING|Exception|Error' "$work/dll_junit.log" | head -n 40
  status=1
fi
so=$work/unpacked/JQelAgtMsg-$version-linux-x86_64.tar.gz/JQelAgtMsg-$version-linux-x86_64/libJQelAgtMsg.so.$version
soname=$(objdump -p "$so" | awk '/SONAME/ {print $2}')
if [ "$soname" = "libJQelAgtMsg.so.${version%%.*}" ]; then
  echo "ok   SONAME $soname"
else
  echo "FAIL SONAME $soname"; status=1
fi
# Bound at load: an agent library without one of the operations fails the load.
if readelf -d "$so" | grep -qE '\(FLAGS\).*BIND_NOW'; then
  echo "ok   BIND_NOW"
else
  echo "FAIL the library is not bound at load: no BIND_NOW flag"; status=1
fi
exit $status
