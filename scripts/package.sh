#!/usr/bin/env bash
# Makes the Debian package from a build: installs it into a staging folder, strips the
# binaries as Debian's own tools would, and writes the control files from
# packaging/debian (the version is the changelog's).
#   scripts/package.sh [BUILD_DIR [OUT_DIR]]     (build/ and the build folder by default)
# Prints the package's path.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)
out=$(mkdir -p "${2:-$build}" && cd "${2:-$build}" && pwd)
debian=$source_dir/packaging/debian

# What the package holds, and nothing more of the build than that.
cmake --build "$build" --target tallowen WMEDist tallowen_codec tallowen_package_files >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowen-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
stage=$work/root
umask 022
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null

# dh_strip's options: no debugging symbols, no compiler notes.
for elf in "$stage"/usr/lib/tallowen/*; do
  case "$elf" in
    *.so) strip --remove-section=.comment --remove-section=.note --strip-unneeded "$elf" ;;
    *) strip --remove-section=.comment --remove-section=.note "$elf" ;;
  esac
done

mkdir -p "$stage/DEBIAN"
(cd "$stage" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0 md5sum) \
  >"$stage/DEBIAN/md5sums"
# dpkg-shlibdeps reads debian/control from the folder it runs in.
(cd "$debian/.." && dpkg-shlibdeps -T"$work/substvars" \
  -e"$stage/usr/lib/tallowen/tallowen" -e"$stage/usr/lib/tallowen/WMEDist" \
  -e"$stage/usr/lib/tallowen/libtallowen_codec.so")
dpkg-gencontrol -ptallowen -c"$debian/control" -l"$debian/changelog" -T"$work/substvars" \
  -f"$work/files" -P"$stage"
chmod 644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

version=$(dpkg-parsechangelog -l"$debian/changelog" -SVersion)
deb=$out/tallowen_${version}_$(dpkg --print-architecture).deb
dpkg-deb --root-owner-group --build "$stage" "$deb" >/dev/null
echo "$deb"
