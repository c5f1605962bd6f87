#!/bin/bash
# Builds the shipped library, JQelAgtMsg.dll for 32-bit Windows, with the
# MinGW-w64 cross compilers, checks its tables, runs the native suite against
# its code (under qemu-i386), and prints where it is.
# Set SOURCE_DATE_EPOCH (e.g. to the commit time) for a byte-identical build.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
jqel_install "${JQEL_CORE_PACKAGES[@]}" "${JQEL_WINDOWS_PACKAGES[@]}" "${JQEL_I386_PACKAGES[@]}"

cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 -j"$(nproc)"
ctest --preset windows-x86 -R 'dll_tables|dll_suite'
echo "built $(pwd)/build/windows-x86/lib/JQelAgtMsg.dll"
