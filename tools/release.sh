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
# the commit's date).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
jqel_install "${JQEL_CORE_PACKAGES[@]}" "${JQEL_WINDOWS_PACKAGES[@]}"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
dist=$(realpath -m "${JQEL_DIST:-dist}")
root=$(realpath -m "${JQEL_BUILD_ROOT:-build}")
mkdir -p "$dist"

for preset in release-windows-x86 release-linux-x86_64; do
  tree=$root/$preset
  cmake --preset "$preset" -B "$tree" >/dev/null
  cmake --build "$tree" -j"$(nproc)" >/dev/null
  rm -rf "$tree/packages"
  (cd "$tree" && cpack -B "$tree/packages" >/dev/null)
  find "$tree/packages" -maxdepth 1 -type f -name 'JQelAgtMsg-*' -exec cp {} "$dist"/ \;
done
cd "$dist"
ls JQelAgtMsg-*-windows-x86.zip JQelAgtMsg-*-linux-x86_64.tar.gz >/dev/null
sha256sum JQelAgtMsg-*
