#!/usr/bin/env bash
# Makes the Debian package with dpkg-buildpackage from a build that scripts/build.sh made,
# without compiling anything again: that build has debian/rules' flags already.
#   scripts/package.sh [BUILD_DIR [OUT_DIR]]     (build/ and the build folder by default)
# Leaves the packages, the .changes, the .buildinfo and the log (.build) in OUT_DIR and
# prints the package's path. "dpkg-buildpackage -us -uc -b" in the source makes the same
# package from nothing.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)
out=$(mkdir -p "${2:-$build}" && cd "${2:-$build}" && pwd)

# A build configured with other flags would be compiled again, under the tests that may
# be running from it.
wanted=$(cd "$source_dir" && debian/rules --no-print-directory print-cmake-flags)
while read -r flag; do
  name=${flag#-D}
  name=${name%%=*}
  if [[ "$(sed -n "s/^$name:[A-Z]*=//p" "$build/CMakeCache.txt")" != "${flag#*=}" ]]; then
    echo "$build has not the package's $name; configure it with scripts/build.sh default" >&2
    exit 1
  fi
done <<<"$wanted"

# dpkg-buildpackage writes into debian/ and into the folder above: it runs in a folder of
# its own with a copy of debian/, and debian/rules makes the package from the build.
work=$(mktemp -d "${TMPDIR:-/tmp}/tallowen-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/tallowen"
cp -r "$source_dir/debian" "$work/tallowen/"
version=$(dpkg-parsechangelog -l"$source_dir/debian/changelog" -SVersion)
arch=$(dpkg --print-architecture)
log=$out/tallowen_${version}_$arch.build
# DEB_BUILD_PATH: dpkg-buildflags maps the source's path out of the binaries, as for the
# build's own configuration. DH_QUIET: quieter makefiles.
# The clean first clears the copy of what an earlier package build left in debian/; it
# leaves a lent build folder alone (debian/rules).
if ! (cd "$work/tallowen" && DEB_BUILD_PATH=$source_dir TALLOWEN_BUILD_DIR=$build DH_QUIET=1 \
      dpkg-buildpackage -us -uc -b) >"$log" 2>&1; then
  cat "$log" >&2
  echo "dpkg-buildpackage failed (log: $log)" >&2
  exit 1
fi
rm -f "$out"/tallowen*_"${version}"_"$arch".deb
cp "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out/"
echo "$out/tallowen_${version}_$arch.deb"
