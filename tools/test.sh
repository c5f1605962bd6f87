#!/bin/bash
# Builds every target and runs the whole test suite: first the check that the
# documents name only ctest entries and presets that exist (check-docs.sh),
# then each CMake preset in turn, configured, built and tested with ctest.
# Stops at the first failure. The 32-bit JVMs, their emulator and the other
# 64-bit JVMs come from the machine's Debian mirror into a cache folder
# (tools/i386-jvms.sh), the first time a test needs them.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
jqel_install "${JQEL_CORE_PACKAGES[@]}" "${JQEL_WINDOWS_PACKAGES[@]}" "${JQEL_I386_PACKAGES[@]}" \
  "${JQEL_COUNT_PACKAGES[@]}" "${JQEL_FUZZ_PACKAGES[@]}" "${JQEL_MAVEN_PACKAGES[@]}"

presets=(linux linux-x86 linux-sanitize linux-fuzz windows-x86 windows-x64)
bash tools/check-docs.sh "${presets[@]}"
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
  ctest --preset "$preset" -j"$(nproc)"
  echo "=== $preset passed in $((SECONDS - start)) s ==="
done
