#!/bin/bash
# Builds the library, the stand-in agent and the Java classes for Linux x86-64
# and runs the demo against the stand-in agent.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
jqel_install "${JQEL_CORE_PACKAGES[@]}"

cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target run-demo
