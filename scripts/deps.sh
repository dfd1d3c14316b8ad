#!/usr/bin/env bash
# Installs the Debian 12 packages that the program needs, and with "test" also those the
# test suite needs; only packages that are absent, so a ready machine is left alone.
#   The build needs what debian/control's Build-Depends lists, and running the program
#   what the package depends on and recommends; the test suite's own tools are listed
#   here, as no package build runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."

test_packages=(
  libgtest-dev libavformat-dev libswresample-dev clang libclang-rt-14-dev
  pulseaudio-utils ffmpeg xvfb xauth x11-utils xdotool xclip imagemagick openbox
  dosfstools fusefat
  desktop-file-utils libchm-bin strace git
  lintian appstream groff-base
  pipewire pipewire-pulse wireplumber dbus
  python3-pyatspi at-spi2-core
)

# The items of one field of the binary package in debian/control, one a line, without
# its substitution variables ("${shlibs:Depends}"), which only a package build fills in.
control_items() {
  awk -v field="$1" '
    /^#/ { next }
    /^$/ { in_binary = 0; next }
    /^Package:/ { in_binary = 1 }
    /^[^ \t]/ { in_field = in_binary && index($0, field ":") == 1; sub(/^[^:]*:/, "") }
    in_field { print }
  ' debian/control | tr ',' '\n' | sed 's/\${[^}]*}//g; s/^[[:space:]]*//; s/[[:space:]]*$//' | grep -v '^$' || true
}

installed() { [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)" == installed ]]; }

# The first alternative of each item ("a | b") that has none installed.
missing=()
while read -r item; do
  IFS='|' read -ra alternatives <<<"$item"
  found=0
  for alt in "${alternatives[@]}"; do
    name=$(sed 's/([^)]*)//; s/[[:space:]]//g' <<<"$alt")
    installed "$name" && found=1
  done
  [[ $found == 1 ]] || missing+=("$(sed 's/([^)]*)//; s/[[:space:]]//g' <<<"${alternatives[0]}")")
done < <(control_items Depends; control_items Recommends; [[ "${1:-}" != test ]] || printf '%s\n' "${test_packages[@]}")

# dpkg-checkbuilddeps (dpkg-dev) judges Build-Depends as a package build does; a machine
# without it has not built anything yet.
build_deps_met=0
command -v dpkg-checkbuilddeps >/dev/null && dpkg-checkbuilddeps >/dev/null 2>&1 && build_deps_met=1

[[ ${#missing[@]} -eq 0 && $build_deps_met == 1 ]] && exit 0

as_root=()
[[ $(id -u) -eq 0 ]] || as_root=(sudo)
apt_get() { DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -y -qq --no-install-recommends "$@"; }
"${as_root[@]}" apt-get update -qq
if [[ $build_deps_met == 0 ]]; then
  echo "Installing the build dependencies of debian/control"
  apt_get build-dep ./
fi
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  apt_get install "${missing[@]}"
fi
