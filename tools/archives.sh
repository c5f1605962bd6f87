# shellcheck shell=bash
# Makes the release archives from this source tree, with cmake and cpack
# alone: it installs nothing (tools/release.sh installs the packages first).
# Sourced by tools/release.sh and tests/release/reproducible.sh.
#   make_archives <build root> <dist>   builds the presets release-windows-x86
#       and release-linux-x86_64 in <build root>/<preset>, signs the DLL (see
#       sign_dll), copies each archive that cpack makes into <dist>, and
#       writes there SHA256SUMS of the archives and, for a signed release,
#       SIGNER: the signing certificate's subject and SHA-256 fingerprint
#
# Every time stamp (the archives' and the DLL's BuildDate) is
# SOURCE_DATE_EPOCH, by default the commit's date, so that two runs from one
# commit give identical bytes.

jqel_source=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

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

make_archives() {
  local root dist preset tree archives=()
  root=$(realpath -m "$1") dist=$(realpath -m "$2")
  export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$jqel_source" log -1 --format=%ct)}
  mkdir -p "$dist"
  rm -f "$dist/SHA256SUMS" "$dist/SIGNER"
  for preset in release-windows-x86 release-linux-x86_64; do
    tree=$root/$preset
    (cd "$jqel_source" && cmake --preset "$preset" -B "$tree" >/dev/null)
    cmake --build "$tree" -j"$(nproc)" >/dev/null
    [ "$preset" != release-windows-x86 ] || sign_dll "$tree"
    rm -rf "$tree/packages"
    (cd "$tree" && cpack -B "$tree/packages" >/dev/null)
    local archive
    for archive in "$tree"/packages/JQelAgtMsg-*; do
      [ -f "$archive" ] || continue
      cp "$archive" "$dist"/
      archives+=("$(basename "$archive")")
    done
  done
  # The archives' own sums, which vouch for each archive as a whole, beside them.
  (cd "$dist" && sha256sum "${archives[@]}" >SHA256SUMS)
  [ -z "${JQEL_SIGN_PKCS12:-}" ] || signer >"$dist/SIGNER"
}

# The signing certificate's subject and SHA-256 fingerprint, as a deployer
# compares them with the DLL's signature (see "Checking a release" in
# packaging/DEPLOYMENT.md).
signer() {
  openssl pkcs12 -in "$JQEL_SIGN_PKCS12" -nokeys -clcerts -passin fd:3 3< <(printf %s "${JQEL_SIGN_PASSWORD:-}") |
    openssl x509 -noout -subject -fingerprint -sha256 -nameopt RFC2253 |
    sed -e 's/^subject=/Subject: /' -e 's/^sha256 Fingerprint=/SHA-256 fingerprint: /'
}
