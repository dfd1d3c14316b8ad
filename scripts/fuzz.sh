#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, AddressSanitizer, UBSan) and runs each in turn
# for SECONDS: the settings file, the recording header's repair, the journal's entries.
#   scripts/fuzz.sh [SECONDS] [BUILD_FOLDER] [NAME...]     (NAME: settings asf_repair journal)
# Fails on a crash, a broken property, a hang (an input taking over 10 s) or a leak in any.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
folder=${2:-build-fuzz}
shift $(($# < 2 ? $# : 2))
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(settings asf_repair journal)
# The longest input each is given: a repair seed holds a few packets of up to 3200 bytes.
declare -A max_len=([settings]=4096 [asf_repair]=16384 [journal]=4096)

cmake -S tests/fuzz -B "$folder" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$folder" -j2 --target "${names[@]/#/fuzz_}" >/dev/null

# New inputs go to a scratch copy: the seed corpora in the tree stay as written.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for name in "${names[@]}"; do
  corpus="$scratch/$name"
  mkdir "$corpus"
  cp tests/fuzz/corpus-"$name"/* "$corpus"/
  echo "== fuzz_$name, $seconds s"
  ASAN_OPTIONS=detect_leaks=1 "$folder"/fuzz_"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="${max_len[$name]}" -print_final_stats=1 -artifact_prefix="$folder/$name-" "$corpus" || status=1
done
exit $status
