#!/usr/bin/env bash
# Installs the Debian 12 packages that the program needs, and with "test" also those the
# test suite needs; only packages that are absent, so a ready machine is left alone.
set -euo pipefail

packages=(
  cmake g++ pkg-config
  qt6-base-dev qt6-translations-l10n
  libgstreamer1.0-dev libpulse-dev
  libavcodec-dev libavformat-dev libswresample-dev libavutil-dev
  libchm-dev fp-utils
  gstreamer1.0-plugins-base gstreamer1.0-libav gstreamer1.0-plugins-ugly gstreamer1.0-plugins-good gstreamer1.0-pulseaudio
  pulseaudio pavucontrol fonts-noto-cjk fonts-liberation2
)
if [[ "${1:-}" == test ]]; then
  packages+=(
    libgtest-dev clang libclang-rt-14-dev
    pulseaudio-utils ffmpeg xvfb xauth x11-utils xdotool xclip imagemagick
    dosfstools fusefat
    dpkg-dev desktop-file-utils libchm-bin strace
    lintian appstream groff-base
    pipewire pipewire-pulse wireplumber dbus
    python3-pyatspi at-spi2-core
  )
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [[ "$status" == installed ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[[ $(id -u) -eq 0 ]] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
