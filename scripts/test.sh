#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: as built, and
# under AddressSanitizer and UndefinedBehaviorSanitizer; then the fuzzers. Prints how long
# each part took.
#   The two builds' real-time tests run at the same time, each on a screen, a sound server
#   and a home folder of its own: they spend most of their time waiting for sound.
#   Meanwhile the sanitizers' fast tests and the fuzzers take what processor time is left,
#   at the lowest priority, so that the real-time tests never wait for it.
#   TALLOWEN_FAST_TESTS_NICE lowers the fast tests of a run that has both kinds.
set -euo pipefail
cd "$(dirname "$0")/.."

times=$(mktemp -d)
logs=$times/logs
mkdir "$logs"
# Runs one part and notes its time in a file of its own (parts may run side by side); its
# failure fails the run, after the rest has run.
part() {
  local name=$1 started=$SECONDS result=0
  shift
  "$@" || result=$?
  printf '%5d s  %s%s\n' $((SECONDS - started)) "$name" "$([[ $result == 0 ]] || echo '  FAILED')" \
    >"$times/$(date +%s%N)"
  return $result
}
summary() {
  echo
  echo "Test command parts (wall time):"
  cat "$times"/[0-9]* 2>/dev/null | sed 's/^/  /'
  printf '%7d s  in all\n' "$SECONDS"
  rm -rf "$times"
}
trap summary EXIT
status=0

part "packages" scripts/deps.sh test || exit 1
part "build (default preset)" scripts/build.sh default || status=1
part "build (asan preset)" scripts/build.sh asan || status=1
[[ $status == 0 ]] || exit 1

source scripts/test-env.sh
# A fresh machine has no Japanese locale generated: one build runs as a Japanese user's
# machine would without it, the other in the plain C locale.
japanese=(env -u LC_ALL LANG=ja_JP.UTF-8)
plain=(env -u LC_ALL LANG=C)
# A part in a test environment of its own, its output kept for later.
isolated() {
  local log=$1
  shift
  (
    test_env_start
    trap test_env_stop EXIT
    "$@"
  ) >"$logs/$log" 2>&1
}

part "tests, fast (default)" isolated 0-fast-default \
  "${japanese[@]}" ctest --preset default --no-tests=error -L fast -j2 || status=1
cat "$logs/0-fast-default"

# Two lanes side by side, each in its own environment: the default build's real-time
# tests; and the sanitizers' build in one run, its fast tests lowered to nice 19 beside its
# real-time ones (two runs of one build would share the test programs' folders with no lock
# between them), then the package's test, made from the default build. More real-time
# lanes than two starve the test microphones' feeders on two cores.
pids=()
lane() {
  local name=$1 log=$2
  shift 2
  part "$name" isolated "$log" "$@" &
  pids+=($!)
}
lane "tests, real time (default)" 1-realtime-default \
  "${japanese[@]}" ctest --preset default --no-tests=error -L realtime -E package_install
asan_lane() {
  local status=0
  "${plain[@]}" TALLOWEN_FAST_TESTS_NICE=19 ctest --preset asan --no-tests=error -j2 || status=1
  "${japanese[@]}" ctest --preset default --no-tests=error -R package_install || status=1
  return $status
}
lane "tests, asan (fast at nice 19, and real time), and the package" 2-asan asan_lane
fuzzers() { nice -n 19 scripts/fuzz.sh 30 >"$logs/4-fuzzers" 2>&1; }
part "fuzzers" fuzzers &
pids+=($!)
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for log in "$logs"/[1-9]*; do
  echo "=== ${log##*/}"
  cat "$log"
done
exit $status
