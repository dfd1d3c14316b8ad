#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, AddressSanitizer, UBSan) and runs each for
# SECONDS, all at once: the settings file, the recording header's repair, the journal's
# entries, and what the recordings list and the player make of a header.
#   scripts/fuzz.sh [SECONDS] [BUILD_FOLDER] [NAME...]     (NAME: settings asf_repair journal asf_info)
# Fails on a crash, a broken property, a hang (an input taking over 10 s) or a leak in any.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
folder=${2:-build-fuzz}
shift $(($# < 2 ? $# : 2))
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(settings asf_repair journal asf_info)
# The longest input each is given: a repair seed holds a few packets of up to 3200 bytes,
# a header of the program's own some 8.5 kB (the room it keeps for marks).
declare -A max_len=([settings]=4096 [asf_repair]=16384 [journal]=4096 [asf_info]=16384)

cmake -S tests/fuzz -B "$folder" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$folder" -j2 --target "${names[@]/#/fuzz_}" >/dev/null

# New inputs go to a scratch copy: the seed corpora in the tree stay as written.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fuzz() {
  local name=$1 corpus="$scratch/$1"
  mkdir "$corpus"
  cp tests/fuzz/corpus-"$name"/* "$corpus"/
  ASAN_OPTIONS=detect_leaks=1 "$folder"/fuzz_"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="${max_len[$name]}" -print_final_stats=1 -artifact_prefix="$folder/$name-" "$corpus" \
    >"$scratch/$name.log" 2>&1
}
declare -A pids=()
for name in "${names[@]}"; do
  fuzz "$name" &
  pids[$name]=$!
done
status=0
for name in "${names[@]}"; do
  result=0
  wait "${pids[$name]}" || result=$?
  echo "== fuzz_$name, $seconds s: $([ $result = 0 ] && echo passed || echo FAILED)"
  # The findings and the statistics; all of it when it failed.
  if [ $result = 0 ]; then grep -E '^(stat::|Done|INFO: seed corpus)' "$scratch/$name.log" || true; else cat "$scratch/$name.log"; status=1; fi
done
exit $status
