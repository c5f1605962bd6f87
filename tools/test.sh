#!/bin/bash
# Builds every target and runs the whole test suite: first the check that the
# documents name only ctest entries and presets that exist (check-docs.sh),
# then each preset of tools/presets in turn, configured, built and tested with
# ctest by its workflow preset (`cmake --workflow --preset <preset>`). Stops
# at the first failure. The 32-bit JVMs, their emulator and the other 64-bit
# JVMs come from the machine's Debian mirror into a cache folder
# (tools/i386-jvms.sh), the first time a test needs them.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
jqel_install "${JQEL_CORE_PACKAGES[@]}" "${JQEL_WINDOWS_PACKAGES[@]}" "${JQEL_I386_PACKAGES[@]}" \
  "${JQEL_COUNT_PACKAGES[@]}" "${JQEL_FUZZ_PACKAGES[@]}" "${JQEL_MAVEN_PACKAGES[@]}" "${JQEL_LINT_PACKAGES[@]}"

# The presets, one a line, "#" starting a comment.
mapfile -t presets < <(sed 's/#.*//; s/[[:space:]]//g; /^$/d' tools/presets)
[ ${#presets[@]} -gt 0 ] || { echo "test.sh: tools/presets names no preset" >&2; exit 1; }
bash tools/check-docs.sh "${presets[@]}"
# The workflow preset of each configures, builds and runs ctest; the build and
# ctest both take these variables as their number of jobs.
jobs=$(nproc)
export CMAKE_BUILD_PARALLEL_LEVEL=$jobs CTEST_PARALLEL_LEVEL=$jobs
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  start=$SECONDS
  cmake --workflow --preset "$preset"
  echo "=== $preset passed in $((SECONDS - start)) s ==="
done
