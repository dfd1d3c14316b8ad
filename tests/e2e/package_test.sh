#!/usr/bin/env bash
# Builds the Debian package with dpkg-buildpackage from the build under test, and has
# Debian's own tools judge it (lintian, on its source too; appstreamcli,
# desktop-file-validate); checks its layout and what it depends on; upgrades a 1.01
# package, which lived in /opt, to it in a dpkg database of the test's own; and records
# with the unpacked program.
#   package_test.sh BUILD_DIR E2E_RECORD
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
e2e=$2
work=$(mktemp -d /tmp/tallowen-package.XXXXXX)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A build configured with other flags is refused, not compiled again under the tests that
# may be running from it.
mkdir "$work/other"
sed 's/^\(CMAKE_CXX_FLAGS:[A-Z]*=\).*/\1-O0/' "$build/CMakeCache.txt" >"$work/other/CMakeCache.txt"
if "$source_dir/scripts/package.sh" "$work/other" 2>"$work/refused"; then
  fail "a build with other flags was packaged"
fi
grep -q 'CMAKE_CXX_FLAGS; configure it with scripts/build.sh default' "$work/refused" ||
  fail "refused without saying why: $(cat "$work/refused")"

deb=$("$source_dir/scripts/package.sh" "$build" "$work/out")
version=$(dpkg-deb -f "$deb" Version)
echo "package: $deb"
# The test command's time allows no third compile of the program.
if grep -E '(Building|Linking) (C|CXX) ' "${deb%.deb}.build"; then
  fail "making the package compiled again (above)"
fi

# Any error or warning fails, and so does a lintian that cannot run (status 1); the rest,
# overridden tags included, is shown. Status 2 alone fails nothing: with --show-overrides
# lintian counts an overridden error too, and its "O:" line says why it is wrong.
judge() {
  local status=0
  lintian_out=$(lintian --fail-on error,warning --display-info --pedantic --show-overrides "$1" 2>&1) ||
    status=$?
  echo "$lintian_out"
  if grep -E '^(E|W): ' <<<"$lintian_out"; then fail "lintian found the errors or warnings above in ${1##*/}"; fi
  [[ $status == 0 || $status == 2 ]] || fail "lintian ended with status $status on ${1##*/}"
}
# The .changes brings the build's record and every package made.
echo "== lintian"
judge "${deb%.deb}.changes"
# Only informational, but they say that dpkg-buildflags' flags did not reach a binary
# (an override, "O:", says why it is wrong).
if grep -E '^[^O]: .* hardening-' <<<"$lintian_out"; then fail "a binary lacks the hardening above"; fi

# The source package too, of what git holds and would hold (the files it tracks and the
# new ones it does not ignore): its copyright file against the metainfo, its sources.
echo "== lintian, source"
source_copy=$work/source/tallowen
mkdir -p "$source_copy"
git -C "$source_dir" ls-files -co --exclude-standard -z |
  (cd "$source_dir" && tar --null --ignore-failed-read -T - -cf -) | tar -xf - -C "$source_copy"
(cd "$source_copy" && dpkg-source -b .) >"$work/source.log" 2>&1 || { cat "$work/source.log"; fail "dpkg-source -b"; }
judge "$work/source/tallowen_$version.dsc"

root=$work/root
dpkg-deb -x "$deb" "$root"
unpacked=$(cd "$root" && find . | sort)
id=io.github.tallowen.Tallowen
metainfo=$root/usr/share/metainfo/$id.metainfo.xml
desktop=$root/usr/share/applications/$id.desktop

# appstreamcli passes a file with warnings and infos; only pedantic notes may stay (the
# capital letter of the id io.github.tallowen.Tallowen).
echo "== appstreamcli validate --pedantic --no-net"
appstream_out=$(appstreamcli validate --pedantic --no-net "$metainfo" 2>&1) ||
  fail "metainfo rejected: $appstream_out"
echo "$appstream_out"
if grep -E '^(E|W|I): ' <<<"$appstream_out"; then fail "appstreamcli found the issues above"; fi
# desktop-file-validate exits with 0 on errors that are "not yet fatal": its silence counts.
echo "== desktop-file-validate"
desktop_out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop entry rejected: $desktop_out"
[[ -z "$desktop_out" ]] || fail "desktop entry: $desktop_out"
echo "no complaints"

# Debian's layout: nothing in /opt, the program's own files where it looks for them, and
# nothing that the program, the desktop or Debian's tools do not read (the pictures are
# compiled in).
expected=(usr/bin/tallowen usr/bin/WMEDist
          usr/lib/tallowen/tallowen usr/lib/tallowen/WMEDist usr/lib/tallowen/libtallowen_codec.so
          usr/share/tallowen/TallowenHelp.chm
          usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml
          usr/share/doc/tallowen/copyright usr/share/doc/tallowen/changelog.gz
          usr/share/man/man1/tallowen.1.gz usr/share/man/man1/WMEDist.1.gz
          usr/share/man/ja/man1/tallowen.1.gz usr/share/man/ja/man1/WMEDist.1.gz)
for size in 16 24 32 48 64 128 256; do expected+=("usr/share/icons/hicolor/${size}x$size/apps/$id.png"); done
expected+=("usr/share/icons/hicolor/scalable/apps/$id.svg")
shipped=$(cd "$root" && find . ! -type d -printf '%P\n' | LC_ALL=C sort)
if [[ "$shipped" != "$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)" ]]; then
  diff <(printf '%s\n' "${expected[@]}" | LC_ALL=C sort) <(echo "$shipped") || true
  fail "the package's files are not the program's (above: < missing, > not read by anything)"
fi
for f in "${expected[@]}"; do
  [[ -s "$root/$f" ]] || fail "the package's $f is empty"
done
# Drawn for its size: each icon as large as its folder says, and the large ones the
# microphone alone, with no opaque tile around it.
for size in 16 24 32 48 64 128 256; do
  icon=$root/usr/share/icons/hicolor/${size}x$size/apps/$id.png
  [[ "$(identify -format '%wx%h' "$icon")" == "${size}x$size" ]] || fail "the $size-pixel icon is $(identify -format '%wx%h' "$icon")"
done
[[ "$(identify -format '%[opaque]' "$root/usr/share/icons/hicolor/256x256/apps/$id.png")" == [Ff]alse ]] ||
  fail "the 256-pixel icon is an opaque tile"
rsvg-convert -w 48 "$root/usr/share/icons/hicolor/scalable/apps/$id.svg" >/dev/null || fail "the scalable icon does not draw"
for command in tallowen WMEDist; do
  [[ "$(readlink "$root/usr/bin/$command")" == "../lib/tallowen/$command" ]] ||
    fail "/usr/bin/$command is no link to the program"
  [[ -x "$root/usr/bin/$command" ]] || fail "/usr/bin/$command does not lead to an executable"
done
# Stricter than lintian, which lets Japanese pages break lines badly.
for page in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/man/ja/man1/*.gz; do
  complaints=$(zcat "$page" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -wall 2>&1 >/dev/null)
  [[ -z "$complaints" ]] || fail "groff on $page: $complaints"
done
for page in tallowen WMEDist; do
  zcat "$root/usr/share/man/ja/man1/$page.1.gz" | grep -x '\.SH 説明' >/dev/null ||
    fail "the Japanese $page page is not in Japanese"
done

# The desktop entry, the metainfo and the package name the same program and the same version.
grep -qx 'Exec=tallowen' "$desktop" || fail "the desktop entry does not start the command"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry names another icon"
grep -q '^Categories=AudioVideo;Audio;Recorder;$' "$desktop" || fail "categories"
grep -q '^Name\[ja\]=' "$desktop" || fail "no Japanese name"
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launchable"
grep -q '<content_rating type="oars-1.1"' "$metainfo" || fail "no content rating"
for lang_tag in name summary p; do
  grep -q "<$lang_tag xml:lang=\"ja\">" "$metainfo" || fail "no Japanese $lang_tag in the metainfo"
done
while read -r binary; do
  [[ -x "$root/usr/bin/$binary" ]] || fail "the metainfo provides $binary, which is not installed"
done < <(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo")
[[ "$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "$metainfo" | head -1)" == "$version" ]] ||
  fail "the newest release of the metainfo is not $version"
grep -q '<release version="1.01"' "$metainfo" || fail "the metainfo forgets 1.01"
[[ "$(zcat "$root/usr/share/doc/tallowen/changelog.gz" | head -1)" == "tallowen ($version) "* ]] ||
  fail "the changelog does not start with $version"
grep -qx "CMAKE_PROJECT_VERSION:STATIC=$version" "$build/CMakeCache.txt" ||
  fail "the program's version is not $version"
# The screenshots are the README's, where the repository will publish them.
published=https://raw.githubusercontent.com/tallowen/tallowen/main
screenshots=$(sed -n "s|.*<image>$published/\(.*\)</image>.*|\1|p" "$metainfo")
[[ -n "$screenshots" ]] || fail "no screenshots"
[[ "$(grep -c '<image>' "$metainfo")" == "$(wc -l <<<"$screenshots")" ]] || fail "a screenshot lies elsewhere"
for shot in $screenshots; do
  [[ -s "$source_dir/$shot" ]] || fail "the screenshot $shot is not in the repository"
  grep -qF "($shot)" "$source_dir/README.md" || fail "the screenshot $shot is not the README's"
done
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$root/usr/share/doc/tallowen/copyright" || fail "the copyright file is not machine-readable"

# Every declared dependency is a real package that this machine has installed (some
# alternative of it), and the program needs no library beyond them.
depends=$(dpkg-deb -f "$deb" Depends)
[[ "$depends" == *gstreamer1.0-libav* && "$depends" == *gstreamer1.0-pulseaudio* && "$depends" == *libgstreamer1.0-0* &&
   "$depends" == *libavcodec* ]] ||
  fail "dependencies: $depends"
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
if grep -aq "$build" "$root/usr/lib/tallowen/tallowen"; then
  fail "the program names a folder of the build"
fi
for exe in tallowen WMEDist libtallowen_codec.so; do
  if ldd "$root/usr/lib/tallowen/$exe" | grep -q 'not found'; then fail "$exe misses a library"; fi
  if readelf -d "$root/usr/lib/tallowen/$exe" | grep -qE 'RPATH|RUNPATH'; then
    fail "$exe has a library path"
  fi
done

# An upgrade from 1.01 leaves nothing of it behind. The old package is rebuilt with the
# files 1.01 installed, and both go into a root and dpkg database of this test's own.
echo "== upgrade from 1.01"
old=$work/old
mkdir -p "$old/DEBIAN" "$old/opt/tallowen/pictures" "$old/usr/bin" "$old/usr/share/applications"
for f in tallowen WMEDist libtallowen_codec.so TallowenHelp.chm; do
  echo "1.01 $f" >"$old/opt/tallowen/$f"
done
chmod 755 "$old/opt/tallowen/tallowen" "$old/opt/tallowen/WMEDist"
cp "$source_dir"/resources/*.xpm "$old/opt/tallowen/pictures/"
printf '#!/bin/sh\nexec "/opt/tallowen/tallowen" "$@"\n' >"$old/usr/bin/tallowen"
chmod 755 "$old/usr/bin/tallowen"
printf '[Desktop Entry]\nType=Application\nName=Tallowen\nExec=tallowen\nIcon=tallowen\n' \
  >"$old/usr/share/applications/tallowen.desktop"
for size in 16 24 32 48 64 128 256; do
  icons=usr/share/icons/hicolor/${size}x$size/apps
  mkdir -p "$old/$icons"
  cp "$root/$icons/$id.png" "$old/$icons/tallowen.png"
done
cat >"$old/DEBIAN/control" <<EOF
Package: tallowen
Version: 1.01
Architecture: $(dpkg --print-architecture)
Maintainer: Tallowen developers <tallowen@users.noreply.github.com>
Description: voice recorder with a Japanese interface, recording into WMA files
EOF
dpkg-deb --root-owner-group --build "$old" "$work/tallowen_1.01.deb" >/dev/null
system=$work/system
mkdir -p "$system/var/lib/dpkg/info" "$system/var/lib/dpkg/updates" "$system/var/lib/dpkg/triggers"
touch "$system/var/lib/dpkg/status"
# The dependencies are this machine's, not the test root's.
in_system=(dpkg --root="$system" --force-depends --force-not-root --force-bad-path)
install_in_system() {
  "${in_system[@]}" -i "$1" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i $1"; }
}
install_in_system "$work/tallowen_1.01.deb"
[[ -x "$system/opt/tallowen/tallowen" ]] || fail "1.01 was not installed"
install_in_system "$deb"
[[ "$("${in_system[@]}" -s tallowen | sed -n 's/^Version: //p')" == "$version" ]] || fail "not upgraded"
# The installed tree is the new package's, file for file.
installed=$(cd "$system" && find . -path ./var -prune -o ! -type d -print | sed 's:^\.::' | sort)
packaged=$(cd "$root" && find . ! -type d -print | sed 's:^\.::' | sort)
if [[ "$installed" != "$packaged" ]]; then
  diff <(echo "$packaged") <(echo "$installed") || true
  fail "after the upgrade the installed files differ from the package's (above: > left behind)"
fi
[[ ! -e "$system/opt/tallowen" ]] || fail "the upgrade left /opt/tallowen"
echo "nothing of 1.01 is left"

# The unpacked recording check finds the recording module where the package put it.
echo "== WMEDist"
mkdir -p "$work/home"
check_out=$(HOME=$work/home XDG_CONFIG_HOME=$work/home/.config QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 \
  "$root/usr/bin/WMEDist" /Q:A 2>&1) || true
echo "$check_out"
grep -q '^\[OK\] WMA エンコーダー' <<<"$check_out" || fail "WMEDist does not find the recording module"

# The unpacked program, started through its link, records and opens its help file, with
# its folders read-only as after a system-wide install. Even the superuser's run keeps
# nothing of its own beside the program.
chmod -R a-w "$root/usr/lib/tallowen" "$root/usr/share/tallowen"
TALLOWEN_E2E_INSTALLED=$root/usr/bin/tallowen "$e2e" \
  --gtest_filter=EndToEndLive.RecordsAToneFromTheMainWindow:EndToEndLive.TheHelpMenuOpensTheHelpFile
after=$(cd "$root" && find . | sort)
if [[ "$after" != "$unpacked" ]]; then
  diff <(echo "$unpacked") <(echo "$after") || true
  fail "the program made files in its own folders (above)"
fi
echo "package test passed: $(basename "$deb")"
