#!/usr/bin/env bash
# Builds the Debian packages the way Debian builds its own (dpkg-buildpackage, debhelper, CMake,
# Release, stripped, debug symbols in -dbgsym packages) from a copy of the source tree, checks them
# with lintian, and prints the path of the program's .deb. Everything lands in build/package/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh

out=$PWD/build/package
rm -rf "$out"
mkdir -p "$out/safehold"
# The tracked and the new files, never a build tree.
git ls-files -z --cached --others --exclude-standard | tar --null -T - -c | tar -x -C "$out/safehold"

(cd "$out/safehold" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc -b >"$out/build.log" 2>&1) || {
  tail -n 40 "$out/build.log" >&2
  echo "package: dpkg-buildpackage failed, the whole log is $out/build.log" >&2
  exit 1
}

changes=$(ls "$out"/safehold_*.changes)
# Errors and warnings fail; overrides in debian/*.lintian-overrides carry their reasons.
lintian --fail-on error,warning "$changes" >&2

ls "$out"/safehold_*.deb
