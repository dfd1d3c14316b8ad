#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: as built, and
# under AddressSanitizer and UndefinedBehaviorSanitizer; then the fuzzers. Prints how long
# each part took.
set -euo pipefail
cd "$(dirname "$0")/.."

parts=()
# Runs one part and notes its time; its failure fails the run, after the rest has run.
status=0
part() {
  local name=$1 started=$SECONDS result=0
  shift
  "$@" || result=$?
  parts+=("$(printf '%5d s  %s%s' $((SECONDS - started)) "$name" "$([[ $result == 0 ]] || echo '  FAILED')")")
  [[ $result == 0 ]] || status=1
  return 0
}
summary() {
  echo
  echo "Test command parts (wall time):"
  printf '  %s\n' "${parts[@]}"
  printf '%7d s  in all\n' "$SECONDS"
}
trap summary EXIT

part "packages" scripts/deps.sh test
[[ $status == 0 ]] || exit 1
part "build (default preset)" scripts/build.sh default
part "build (asan preset)" scripts/build.sh asan
[[ $status == 0 ]] || exit 1

source scripts/test-env.sh
test_env_start
trap 'test_env_stop; summary' EXIT

# Tests that do not depend on the clock run two at a time; the real-time ones alone. A
# fresh machine has no Japanese locale generated: one build runs as a Japanese user's
# machine would without it, the other in the plain C locale.
japanese=(env -u LC_ALL LANG=ja_JP.UTF-8)
plain=(env -u LC_ALL LANG=C)
part "tests, fast (default)" "${japanese[@]}" ctest --preset default --no-tests=error -L fast -j2
part "tests, real time (default)" "${japanese[@]}" ctest --preset default --no-tests=error -L realtime
part "tests, fast (asan)" "${plain[@]}" ctest --preset asan --no-tests=error -L fast -j2
part "tests, real time (asan)" "${plain[@]}" ctest --preset asan --no-tests=error -L realtime
part "fuzzers" scripts/fuzz.sh 60
exit $status
