#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tallowen.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No desktop session found (DISPLAY is not set); start build/tallowen from a desktop." >&2
  exit 1
fi
exec build/tallowen
