#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: as built, and
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTALLOWEN_SANITIZE=ON -DTALLOWEN_BENCH=OFF

source scripts/test-env.sh
test_env_start
trap test_env_stop EXIT

status=0
ctest --test-dir build --output-on-failure --timeout 300 || status=1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 600 || status=1
# The settings file's reader and writer against a minute of libFuzzer's inputs.
scripts/fuzz.sh 60 || status=1
exit $status
