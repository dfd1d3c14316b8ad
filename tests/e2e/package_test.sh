#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a fresh root, checks what it holds and what it
# depends on, and records with the unpacked program.
#   package_test.sh BUILD_DIR E2E_RECORD
set -euo pipefail
build=$1
e2e=$2
work=$(mktemp -d /tmp/tallowen-package.XXXXXX)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/tallowen_*.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"

fail() { echo "FAIL: $*"; exit 1; }
for f in opt/tallowen/tallowen opt/tallowen/WMEDist opt/tallowen/libtallowen_codec.so opt/tallowen/TallowenHelp.chm opt/tallowen/pictures/icon.xpm \
         usr/bin/tallowen usr/share/applications/tallowen.desktop \
         usr/share/icons/hicolor/48x48/apps/tallowen.png usr/share/icons/hicolor/256x256/apps/tallowen.png; do
  [[ -s "$root/$f" ]] || fail "the package lacks $f"
done
[[ -x "$root/opt/tallowen/tallowen" && -x "$root/usr/bin/tallowen" ]] || fail "not executable"
grep -q '^exec "/opt/tallowen/tallowen"' "$root/usr/bin/tallowen" || fail "the launcher does not start the program"
desktop-file-validate "$root/usr/share/applications/tallowen.desktop" || fail "desktop entry rejected"
grep -q '^Categories=AudioVideo;Audio;Recorder;$' "$root/usr/share/applications/tallowen.desktop" || fail "categories"
grep -q '^Name\[ja\]=' "$root/usr/share/applications/tallowen.desktop" || fail "no Japanese name"

# Every declared dependency is a real package that this machine has installed (some
# alternative of it), and the program needs no library beyond them.
depends=$(dpkg-deb -f "$deb" Depends)
[[ "$depends" == *gstreamer1.0-libav* && "$depends" == *libqt6multimedia6* ]] || fail "dependencies: $depends"
IFS=',' read -ra items <<<"$depends"
for item in "${items[@]}"; do
  ok=0
  IFS='|' read -ra alternatives <<<"$item"
  for alt in "${alternatives[@]}"; do
    name=$(echo "$alt" | sed 's/(.*)//; s/ //g')
    [[ "$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null)" == installed ]] && ok=1
  done
  [[ $ok == 1 ]] || fail "dependency not installed here: $item"
done
dpkg-deb -f "$deb" Recommends | grep -q pavucontrol || fail "the volume control is not recommended"
# The program loads its recording module from its own folder only: no path of the build
# tree, where anybody might put a library, is in what is shipped.
if grep -aq "$(cd "$build" && pwd)" "$root/opt/tallowen/tallowen"; then fail "the program names a folder of the build"; fi
for exe in tallowen WMEDist libtallowen_codec.so; do
  if ldd "$root/opt/tallowen/$exe" | grep -q 'not found'; then fail "$exe misses a library"; fi
done

# The unpacked program records, with its folder read-only as after a system-wide install.
chmod -R a-w "$root/opt/tallowen"
TALLOWEN_E2E_INSTALLED=$root/opt/tallowen/tallowen "$e2e" --gtest_filter=EndToEndLive.RecordsAToneFromTheMainWindow
echo "package test passed: $(basename "$deb")"
