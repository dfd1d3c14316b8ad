#!/usr/bin/env bash
# scripts/deps.sh against this tree's debian/control, with dpkg and apt stood in for:
# it installs what is missing and nothing else, and leaves a ready machine alone.
#   tests/deps_test.sh SOURCE_DIR
set -euo pipefail
deps=$1/scripts/deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The stand-ins: $work/absent lists the packages that are not installed, $work/unmet makes
# the build dependencies unmet; every apt-get call is noted in $work/apt.log.
mkdir "$work/bin"
cat >"$work/bin/dpkg-query" <<EOF
#!/bin/sh
for p; do :; done
grep -qx "\$p" "$work/absent" && exit 1
echo installed
EOF
cat >"$work/bin/dpkg-checkbuilddeps" <<EOF
#!/bin/sh
[ ! -e "$work/unmet" ]
EOF
cat >"$work/bin/apt-get" <<EOF
#!/bin/sh
echo "\$*" >>"$work/apt.log"
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work"/bin/*

# Runs deps.sh with these packages absent; prints what apt-get was asked to install, in
# the order of the alphabet.
run() {
  local args=$1
  shift
  printf '%s\n' "$@" >"$work/absent"
  : >"$work/apt.log"
  PATH=$work/bin:$PATH bash "$deps" $args >/dev/null
  sed -n 's/.* install //p' "$work/apt.log" | tr ' ' '\n' | sort | xargs
}

[[ -z "$(run test)" && ! -s "$work/apt.log" ]] || fail "a ready machine got: $(cat "$work/apt.log")"

[[ "$(run "" pavucontrol gstreamer1.0-libav)" == "gstreamer1.0-libav pavucontrol" ]] ||
  fail "missing program packages: $(cat "$work/apt.log")"
# Of alternatives only the first is installed, and only when none is.
[[ -z "$(run "" fonts-noto-cjk fonts-ipafont-gothic)" ]] || fail "another Japanese font was not enough"
[[ "$(run "" fonts-noto-cjk fonts-ipafont-gothic fonts-vlgothic)" == fonts-noto-cjk ]] ||
  fail "no Japanese font: $(cat "$work/apt.log")"
# The package index is read before anything is installed.
[[ "$(head -1 "$work/apt.log")" == *update* ]] || fail "no apt-get update first"

# The test tools only for the tests.
[[ -z "$(run "" lintian xvfb)" ]] || fail "the program's packages brought test tools"
[[ "$(run test xvfb lintian)" == "lintian xvfb" ]] || fail "missing test tools: $(cat "$work/apt.log")"

# Unmet build dependencies are apt's to resolve from debian/control.
touch "$work/unmet"
run "" >/dev/null
grep -qx -- '-y -qq --no-install-recommends build-dep ./' "$work/apt.log" ||
  fail "unmet build dependencies: $(cat "$work/apt.log")"
rm "$work/unmet"
echo "deps.sh installs what is missing and nothing else"
