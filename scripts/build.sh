#!/usr/bin/env bash
# Configures and builds into the given folder: scripts/build.sh FOLDER [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$1
shift
cmake -S . -B "$folder" "$@" >/dev/null
cmake --build "$folder" -j2
