#!/bin/bash
# Makes the release archives from this commit:
#   dist/JQelAgtMsg-<version>-windows-x86.zip     JQelAgtMsg.dll (the shipped library)
#   dist/JQelAgtMsg-<version>-linux-x86_64.tar.gz libJQelAgtMsg.so
# each holding what packaging/CMakeLists.txt installs: the library, the Java
# classes jqel-api.jar, the loading doctor jqel-doctor.jar, DEPLOYMENT.md, the
# Maven folder maven/ and SHA256SUMS. Every time stamp (the archives' and the DLL's BuildDate) is the
# commit's, from SOURCE_DATE_EPOCH, so that two runs from one commit give
# identical bytes.
#
# Environment: JQEL_DIST (where the archives go, default dist/),
# JQEL_BUILD_ROOT (the build trees, default build/), SOURCE_DATE_EPOCH (default
# the commit's date); to sign the DLL, JQEL_SIGN_PKCS12 and the rest (see
# sign_dll below). A signed DLL carries its signing time, so only unsigned
# releases are byte-identical.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
jqel_install "${JQEL_CORE_PACKAGES[@]}" "${JQEL_WINDOWS_PACKAGES[@]}"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

# Signs the DLL of the build tree $1 with Authenticode (SHA-256), in place,
# when a certificate is given: JQEL_SIGN_PKCS12, a PKCS#12 file holding the
# signing key and its certificate chain; JQEL_SIGN_PASSWORD, that file's
# password; JQEL_SIGN_TIMESTAMP, if set, the URL of an RFC 3161 timestamp
# server, so that the signature outlives the certificate. Run after the build
# and before cpack, which makes SHA256SUMS and the archive from the signed
# file. The DLL is linked afresh first, so that a tree that an earlier run
# signed gives the unsigned, reproducible DLL when no certificate is given.
sign_dll() {
  local tree=$1 dll=$1/lib/JQelAgtMsg.dll
  rm -f "$dll"
  cmake --build "$tree" --target JQelAgtMsg >/dev/null
  [ -n "${JQEL_SIGN_PKCS12:-}" ] || return 0
  local timestamp=()
  [ -z "${JQEL_SIGN_TIMESTAMP:-}" ] || timestamp=(-ts "$JQEL_SIGN_TIMESTAMP")
  # The password through a pipe, not on the command line, where ps shows it.
  osslsigncode sign -pkcs12 "$JQEL_SIGN_PKCS12" -readpass <(printf %s "${JQEL_SIGN_PASSWORD:-}") \
    -h sha256 -n JQelAgtMsg "${timestamp[@]}" -in "$dll" -out "$dll.signed" >/dev/null
  mv "$dll.signed" "$dll"
  echo "Signed $dll with $JQEL_SIGN_PKCS12"
}

dist=$(realpath -m "${JQEL_DIST:-dist}")
root=$(realpath -m "${JQEL_BUILD_ROOT:-build}")
mkdir -p "$dist"

for preset in release-windows-x86 release-linux-x86_64; do
  tree=$root/$preset
  cmake --preset "$preset" -B "$tree" >/dev/null
  cmake --build "$tree" -j"$(nproc)" >/dev/null
  [ "$preset" != release-windows-x86 ] || sign_dll "$tree"
  rm -rf "$tree/packages"
  (cd "$tree" && cpack -B "$tree/packages" >/dev/null)
  find "$tree/packages" -maxdepth 1 -type f -name 'JQelAgtMsg-*' -exec cp {} "$dist"/ \;
done
cd "$dist"
ls JQelAgtMsg-*-windows-x86.zip JQelAgtMsg-*-linux-x86_64.tar.gz >/dev/null
sha256sum JQelAgtMsg-*
