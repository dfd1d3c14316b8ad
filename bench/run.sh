#!/usr/bin/env bash
# Builds what the benchmarks need into build-bench, starts the test screen and sound
# server, and prints the table of figures against their peers, all measured in this run.
#   bench/run.sh          the full run (about 20 minutes: the lost-samples row records 10)
#   bench/run.sh --quick  the lost-samples row records 1 minute, for trying things out
#   bench/run.sh --startup  the start-up row alone
#   bench/run.sh --recording  the rows of the 30 s recordings alone
#   bench/run.sh --recordings-list  the recordings window over 5000 recordings alone
#   bench/run.sh --waveform  the waveforms of 3 and 10 hours alone (about 10 minutes)
#   bench/run.sh --export    an hour exported to MP3 against ffmpeg alone (about 2 minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench --target tallowen tallowen_codec bare_window tallowen_bench recordings_list waveform export_speed >/dev/null
if [[ "${1:-}" == --recordings-list ]]; then exec build-bench/bench/recordings_list 5000; fi
mkdir -p build-bench/run
if [[ "${1:-}" == --waveform ]]; then TALLOWEN_TEST_TMP=$PWD/build-bench/run exec build-bench/bench/waveform 3 10; fi
if [[ "${1:-}" == --export ]]; then TALLOWEN_TEST_TMP=$PWD/build-bench/run exec build-bench/bench/export_speed 60; fi

# Kept in the build folder, away from the other test runs' temporary folders.
mkdir -p build-bench/run
export TALLOWEN_TEST_TMP=$PWD/build-bench/run
# PipeWire, as a Debian 12 desktop has it: it hands a recording its sound in the blocks the
# recording asks for. The test PulseAudio's pipe source hands over every 10 ms whatever
# is asked, which no sound card does. TALLOWEN_TEST_SOUND=pulseaudio measures on it.
export TALLOWEN_TEST_SOUND=${TALLOWEN_TEST_SOUND:-pipewire}
source scripts/test-env.sh
test_env_start
trap test_env_stop EXIT

work=$(mktemp -d "$TALLOWEN_TEST_TMP/bench.XXXXXX")
trap 'test_env_stop; rm -rf "$work"' EXIT
build-bench/bench/tallowen_bench --program build-bench/tallowen --bare build-bench/bench/bare_window \
  --work "$work" "$@"
# The recordings window, with the full table only.
if [[ $# == 0 ]]; then
  build-bench/bench/recordings_list 5000
  build-bench/bench/waveform 3 10
  build-bench/bench/export_speed 60
fi
