#!/usr/bin/env bash
# Configures and builds one of the presets in CMakePresets.json: scripts/build.sh PRESET
#   default  build/       the program as the package builds it, and its tests
#   asan     build-asan/  the same under AddressSanitizer and UBSan, for the tests
#   bench    build-bench/ the program and the benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
flags=()
if [[ "$preset" == default ]]; then
  # The package's flags (dpkg-buildflags as debian/rules asks for them), so that the package
  # test makes the package from this build without compiling it again.
  package_flags=$(debian/rules --no-print-directory print-cmake-flags)
  mapfile -t flags <<<"$package_flags"
fi
cmake --preset "$preset" "${flags[@]}" >/dev/null
cmake --build --preset "$preset"
