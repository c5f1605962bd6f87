#!/bin/bash
# Makes the release archives from this commit:
#   dist/JQelAgtMsg-<version>-windows-x86.zip     JQelAgtMsg.dll (the shipped library)
#   dist/JQelAgtMsg-<version>-linux-x86_64.tar.gz libJQelAgtMsg.so
#   dist/SHA256SUMS                               the archives' checksums
#   dist/SIGNER                                   for a signed release, the signer's fingerprint
# each holding what packaging/CMakeLists.txt installs: the library, the Java
# classes jqel-api.jar, the loading doctor jqel-doctor.jar, DEPLOYMENT.md, the
# Maven folder maven/ and SHA256SUMS. Every time stamp (the archives' and the
# DLL's BuildDate) is the commit's, from SOURCE_DATE_EPOCH, so that two runs
# from one commit give identical bytes. It installs the packages the builds
# need, then builds and packs with tools/archives.sh.
#
# Environment: JQEL_DIST (where the archives go, default dist/),
# JQEL_BUILD_ROOT (the build trees, default build/), SOURCE_DATE_EPOCH (default
# the commit's date); to sign the DLL, JQEL_SIGN_PKCS12 and the rest (see
# sign_dll in tools/archives.sh). A signed DLL carries its signing time, so
# only unsigned releases are byte-identical.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
jqel_install "${JQEL_CORE_PACKAGES[@]}" "${JQEL_WINDOWS_PACKAGES[@]}"

source tools/archives.sh
dist=$(realpath -m "${JQEL_DIST:-dist}")
make_archives "${JQEL_BUILD_ROOT:-build}" "$dist"
cd "$dist"
ls JQelAgtMsg-*-windows-x86.zip JQelAgtMsg-*-linux-x86_64.tar.gz >/dev/null
cat SHA256SUMS
[ ! -f SIGNER ] || cat SIGNER
