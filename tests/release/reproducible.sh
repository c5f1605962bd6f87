#!/bin/bash
# Makes the release archives twice from this source tree, as tools/release.sh
# does (tools/archives.sh, without installing any package), in separate build
# trees and at different times, and fails unless both runs give the same
# bytes (the second in a tree that a signed release used just before) and
# each archive holds exactly the library, the Java classes jqel-api.jar and
# the loading doctor jqel-doctor.jar (both of class files of Java 8, major
# version 52), DEPLOYMENT.md, the Maven repository folder maven/ (whose
# jqel-native jar carries the archive's very library, signed in the signed
# release) and a SHA256SUMS of all of them that checks; in the Windows archive the guide and
# SHA256SUMS end their lines in CRLF, in the Linux one in LF. The archive's
# DLL, the very bytes users get, must meet check_dll.py's tables and PE rules and
# pass the native suite (built for i386 Linux, run under qemu-i386) against
# the stand-in agent with __cdecl and with __stdcall operations, and the
# JUnit suite in the real 32-bit JVM, with the archive's jqel-api.jar. The
# Linux library must carry its SONAME and Debian's hardening
# (check_hardening.sh). Beside the archives, SHA256SUMS must list both and
# check, and a signed release name its signer's fingerprint in SIGNER. A
# release given a throwaway self-signed certificate must ship a DLL whose
# Authenticode signature osslsigncode accepts, and
# rejects once one byte of it changes, and which still meets check_dll.py and
# passes the native suite through the PE loader.
# usage: reproducible.sh <scratch-dir> <version> <exports> <qemu-i386> <folder of jqel_dll_tests_*>
#          <folder of the suite's jars> <the JUnit suite's command line for run_junit.sh...>
# (<version>: the project's, which names the archives; <exports>: the names
# the DLL must export, one a line)
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$1 version=$2 exports=$3 qemu=$4 runner=$5 runner_java=$6
shift 6
junit=("$@")
# shellcheck source=SCRIPTDIR/../lib.sh
source "$src/tests/lib.sh"
# shellcheck source=SCRIPTDIR/../../tools/archives.sh
source "$src/tools/archives.sh"
rm -rf "$work" && mkdir -p "$work/signer"
signer=$work/signer
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=JQelAgtMsg test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$signer/key.pem" -out "$signer/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$signer/key.pem" -in "$signer/cert.pem" \
  -passout pass:throwaway -out "$signer/cert.p12"
# Each run in a shell of its own, as each release.sh is, so that none sees
# another's certificate.
(make_archives "$work/first-build" "$work/first" >/dev/null)
(JQEL_SIGN_PKCS12=$signer/cert.p12 JQEL_SIGN_PASSWORD=throwaway \
  make_archives "$work/second-build" "$work/signed" >/dev/null)
sleep 1
(make_archives "$work/second-build" "$work/second" >/dev/null)

# Beside the archives, their sums, and the signer of a signed release only.
if [ "$(sed 's/^[0-9a-f]*  //' "$work/first/SHA256SUMS" | LC_ALL=C sort | tr '\n' ' ')" = \
     "JQelAgtMsg-$version-linux-x86_64.tar.gz JQelAgtMsg-$version-windows-x86.zip " ] &&
   (cd "$work/first" && sha256sum --quiet -c SHA256SUMS) && (cd "$work/signed" && sha256sum --quiet -c SHA256SUMS); then
  ok "dist/SHA256SUMS lists both archives and checks them, signed or not"
else
  fail "dist/SHA256SUMS: $(cat "$work/first/SHA256SUMS")"
fi
if [ ! -e "$work/first/SIGNER" ]; then ok "an unsigned release names no signer"; else fail "an unsigned release has a SIGNER"; fi

for archive in JQelAgtMsg-$version-windows-x86.zip JQelAgtMsg-$version-linux-x86_64.tar.gz; do
  if cmp "$work/first/$archive" "$work/second/$archive"; then
    ok "$archive: both runs byte-identical"
  else
    fail "$archive: the runs differ"
  fi
  unpacked=$work/unpacked/$archive
  mkdir -p "$unpacked"
  case $archive in
    *.zip) (cd "$unpacked" && python3 -m zipfile -e "$work/first/$archive" .) ;;
    *) tar -xzf "$work/first/$archive" -C "$unpacked" ;;
  esac
  top=$unpacked/${archive%.zip}
  top=${top%.tar.gz}
  platform=${archive#JQelAgtMsg-"$version"-}
  platform=${platform%%.*}
  maven=
  for f in jqel-api/$version/jqel-api-$version.jar jqel-api/$version/jqel-api-$version.pom \
           jqel-api/$version/jqel-api-$version-sources.jar jqel-api/$version/jqel-api-$version-javadoc.jar \
           jqel-native/$version/jqel-native-$version.pom jqel-native/$version/jqel-native-$version-$platform.jar; do
    for suffix in "" .md5 .sha1; do maven+=" maven/com/brenn/varnis/tq/api/$f$suffix"; done
  done
  case $archive in
    *.zip) library=JQelAgtMsg.dll expected="DEPLOYMENT.md JQelAgtMsg.dll SHA256SUMS jqel-api.jar jqel-doctor.jar$maven" ;;
    *) library=libJQelAgtMsg.so
       expected="DEPLOYMENT.md SHA256SUMS jqel-api.jar jqel-doctor.jar libJQelAgtMsg.so libJQelAgtMsg.so.1 libJQelAgtMsg.so.$version$maven" ;;
  esac
  actual=$(cd "$top" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
  read -ra names <<<"$expected"
  expected=$(printf '%s\n' "${names[@]}" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$actual" = "$expected" ]; then
    ok "$archive holds: $actual"
  else
    fail "$archive holds: $actual; expected: $expected"
  fi
  native_jar=$top/maven/com/brenn/varnis/tq/api/jqel-native/$version/jqel-native-$version-$platform.jar
  if cmp -s "$top/$library" <(jar_entry "$native_jar" "META-INF/native/jqel/$platform/$library"); then
    ok "$archive: jqel-native-$version-$platform.jar carries the archive's $library"
  else
    fail "$archive: jqel-native-$version-$platform.jar does not carry the archive's $library"
  fi
  for jar in jqel-api.jar jqel-doctor.jar; do
    majors=$(python3 -c 'import sys, zipfile
jar = zipfile.ZipFile(sys.argv[1])
print(" ".join(sorted({str(int.from_bytes(jar.read(n)[6:8], "big")) for n in jar.namelist() if n.endswith(".class")})))' \
      "$top/$jar" 2>&1)
    if [ "$majors" = 52 ]; then
      ok "$archive: $jar holds class files of Java 8 only"
    else
      fail "$archive: $jar holds class files of major versions: $majors"
    fi
  done
  # Lines end in CRLF in the Windows archive's text files, in LF elsewhere.
  for text in DEPLOYMENT.md SHA256SUMS; do
    ends=$(python3 -c 'import sys; b = open(sys.argv[1], "rb").read(); n = b.count(b"\n"); c = b.count(b"\r\n")
print("CRLF" if n and c == n else "LF" if not c else "mixed")' "$top/$text")
    want=LF
    [[ $archive != *.zip ]] || want=CRLF
    if [ "$ends" = "$want" ]; then
      ok "$archive: $text ends its lines in $want"
    else
      fail "$archive: $text ends its lines in $ends, not $want"
    fi
  done
  listed=$(tr -d '\r' <"$top/SHA256SUMS" | sed 's/^[0-9a-f]*  //' | LC_ALL=C sort)
  files=$(cd "$top" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
  [ "$listed" = "$files" ] || fail "$archive: SHA256SUMS lists: $listed"
  if (cd "$top" && sha256sum --quiet -c SHA256SUMS); then
    ok "$archive: SHA256SUMS checks"
  else
    fail "$archive: SHA256SUMS does not check"
  fi
done
dll=$work/unpacked/JQelAgtMsg-$version-windows-x86.zip/JQelAgtMsg-$version-windows-x86/JQelAgtMsg.dll

# The signed release: its SHA256SUMS is of the signed DLL, the signature
# checks against the certificate, and a byte changed in the middle of the
# image (which the signature covers) makes it fail.
signed=$work/unpacked/signed
mkdir -p "$signed"
(cd "$signed" && python3 -m zipfile -e "$work/signed/JQelAgtMsg-$version-windows-x86.zip" .)
signed=$signed/JQelAgtMsg-$version-windows-x86
if (cd "$signed" && sha256sum --quiet -c SHA256SUMS) && ! cmp -s "$signed/JQelAgtMsg.dll" "$dll" &&
   cmp -s "$signed/JQelAgtMsg.dll" <(jar_entry "$signed/maven/com/brenn/varnis/tq/api/jqel-native/$version/jqel-native-$version-windows-x86.jar" \
     META-INF/native/jqel/windows-x86/JQelAgtMsg.dll); then
  ok "the signed release's SHA256SUMS checks its DLL, which differs from the unsigned one and is the one its jqel-native jar carries"
else
  fail "the signed release's SHA256SUMS does not check, its DLL is the unsigned one, or its jqel-native jar carries another"
fi
if osslsigncode verify -CAfile "$signer/cert.pem" -in "$signed/JQelAgtMsg.dll" >"$work/verify.log" 2>&1 \
   && grep -q '^Message digest algorithm *: SHA256' "$work/verify.log"; then
  ok "osslsigncode verifies the signed DLL's SHA-256 signature"
else
  fail "osslsigncode does not verify the signed DLL:"; tail -n 5 "$work/verify.log"
fi
# The signer as the release names it, and as the guide's Linux commands read
# it from the DLL's signature, must be the certificate's.
fingerprint=$(openssl x509 -in "$signer/cert.pem" -noout -fingerprint -sha256 | sed 's/^.*=//')
osslsigncode extract-signature -in "$signed/JQelAgtMsg.dll" -out "$work/signature.der" >/dev/null
from_dll=$(openssl pkcs7 -inform DER -in "$work/signature.der" -print_certs | openssl x509 -noout -fingerprint -sha256 | sed 's/^.*=//')
if [ "$(cat "$work/signed/SIGNER")" = "$(printf 'Subject: CN=JQelAgtMsg test signer\nSHA-256 fingerprint: %s' "$fingerprint")" ] &&
   [ "$from_dll" = "$fingerprint" ]; then
  ok "dist/SIGNER names the certificate's SHA-256 fingerprint, which the DLL's signature carries"
else
  fail "dist/SIGNER: $(cat "$work/signed/SIGNER"); the certificate's: $fingerprint; the DLL's signer: $from_dll"
fi
cp "$signed/JQelAgtMsg.dll" "$work/tampered.dll"
python3 -c 'import sys
path, at = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
data[at] ^= 1
open(path, "wb").write(data)' "$work/tampered.dll" $(($(stat -c %s "$dll") / 2))
if osslsigncode verify -CAfile "$signer/cert.pem" -in "$work/tampered.dll" >"$work/tampered.log" 2>&1; then
  fail "osslsigncode verifies the signed DLL with one byte changed"
else
  ok "osslsigncode rejects the signed DLL with one byte changed"
fi

# The tables and the PE rules that scanners check, in the DLLs users get.
for file in "$dll" "$signed/JQelAgtMsg.dll"; do
  which=unsigned
  [ "$file" = "$dll" ] || which=signed
  if python3 "$src/tests/windows/check_dll.py" --objdump i686-w64-mingw32-objdump \
       --windres i686-w64-mingw32-windres --arch x86 --version "$version" \
       --exports "$exports" "$file" >"$work/check_dll_$which.log" 2>&1; then
    ok "the $which DLL's tables and PE rules (check_dll.py)"
  else
    fail "the $which DLL's tables or PE rules:"; grep -v '^ok' "$work/check_dll_$which.log"
  fi
done

# The archive's DLL with either agent convention, the signed one with one.
for run in "archive cdecl $dll" "archive stdcall $dll" "signed stdcall $signed/JQelAgtMsg.dll"; do
  read -r which convention file <<<"$run"
  log=$work/dll_suite_${which}_$convention.log
  if JQEL_BRIDGE_DLL=$file "$qemu" "$runner/jqel_dll_tests_$convention" >"$log" 2>&1; then
    ok "the $which DLL passes the native suite, agent $convention"
  else
    fail "the $which DLL fails the native suite, agent $convention:"
    grep -E 'Failure|FAILED|Expected|Which is|: ' "$log" | head -n 40
  fi
done
# The suite against the archive's jqel-api.jar too, in place of the build's.
api=$(dirname "$dll")/jqel-api.jar
junit=("${junit[@]//$runner_java\/jqel-api.jar/$api}")
if JQEL_BRIDGE_DLL=$dll bash "$src/tests/java/run_junit.sh" "$work/dll_junit.log" "${junit[@]}" >/dev/null 2>&1; then
  ok "the archive's DLL and jqel-api.jar pass the JUnit suite in the 32-bit JVM, $(sed -n 's/^JVM: //p' "$work/dll_junit.log"), agent stdcall"
else
  fail "the archive's DLL fails the JUnit suite in the 32-bit JVM:"
  grep -E '\[X\]|FAILED|WARNING|Exception|Error' "$work/dll_junit.log" | head -n 40
fi
so=$work/unpacked/JQelAgtMsg-$version-linux-x86_64.tar.gz/JQelAgtMsg-$version-linux-x86_64/libJQelAgtMsg.so.$version
soname=$(objdump -p "$so" | awk '/SONAME/ {print $2}')
if [ "$soname" = "libJQelAgtMsg.so.${version%%.*}" ]; then
  ok "SONAME $soname"
else
  fail "SONAME $soname"
fi
# Debian's hardening, bound at load among it: an agent library without one of
# the operations fails the load.
bash "$(dirname "$0")/check_hardening.sh" "$so" || status=1
exit $status
