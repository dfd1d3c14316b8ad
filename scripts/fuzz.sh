#!/usr/bin/env bash
# Builds the settings fuzzer with clang (libFuzzer, AddressSanitizer, UBSan) and runs it:
#   scripts/fuzz.sh [SECONDS] [BUILD_FOLDER]
# Fails on a crash, a broken property, a hang (an input taking over 10 s) or a leak.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
folder=${2:-build-fuzz}
cmake -S tests/fuzz -B "$folder" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$folder" -j2 >/dev/null

# New inputs go to a scratch copy: the seed corpus in the tree stays as written.
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp tests/fuzz/corpus/* "$corpus"/
ASAN_OPTIONS=detect_leaks=1 "$folder"/fuzz_settings -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=4096 -print_final_stats=1 -artifact_prefix="$folder"/ "$corpus"
