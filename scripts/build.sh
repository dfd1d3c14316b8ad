#!/usr/bin/env bash
# Configures and builds one of the presets in CMakePresets.json: scripts/build.sh PRESET
#   default  build/       the program as shipped and its tests
#   asan     build-asan/  the same under AddressSanitizer and UBSan, for the tests
#   bench    build-bench/ the program and the benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
