#!/usr/bin/env bash
# Each folder of src/ may include only its own headers and those of the folders below it:
# app on config, player, help and companion's peers; config, player and companion on
# recording; recording on settings; everything on platform. Prints every include that runs
# the other way.
#   tests/layers.sh SOURCE_DIR
set -euo pipefail
cd "$1/src"
declare -A allowed=(
  [platform]="platform"
  [settings]="settings platform"
  [recording]="recording settings platform"
  [config]="config recording settings platform"
  [player]="player recording settings platform"
  [help]="help platform"
  [companion]="companion recording settings platform"
  [app]="app config player help recording settings platform"
)
bad=0
for folder in "${!allowed[@]}"; do
  while IFS=: read -r file line include; do
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$include")
    [[ " ${allowed[$folder]} resources " == *" $target "* ]] && continue
    echo "$file:$line: $folder includes $target"
    bad=1
  done < <(grep -rnE '#include "[a-z]+/' "$folder" || true)
done
[[ $bad == 0 ]] && echo "every include runs down the layers"
exit $bad
