#!/usr/bin/env bash
# Unpacks the built packages into a fresh root, as an installation would place them, and checks
# that every file is where it belongs, that the launcher entry, the AppStream data and the manual
# pages are valid, and that the installed program and tools run from there.
set -euo pipefail
cd "$(dirname "$0")/.."

out=$PWD/build/package
root=$(mktemp -d "${TMPDIR:-/tmp}/safehold-root.XXXXXX")
trap 'rm -rf "$root"' EXIT

for deb in "$out"/safehold_*.deb "$out"/safehold-tools_*.deb; do
  dpkg-deb --extract "$deb" "$root"
done

failed=0
expect() {
  if [[ ! -e "$root/$1" ]]; then
    echo "check-package: missing $1" >&2
    failed=1
  fi
}
for file in \
    usr/bin/safehold usr/bin/safehold-archive usr/bin/safehold-check-config usr/bin/safehold-suite \
    usr/share/dbus-1/services/com.korvel.backup.service \
    usr/share/applications/com.korvel.backup.desktop \
    usr/share/icons/hicolor/scalable/apps/com.korvel.backup.svg \
    usr/share/metainfo/com.korvel.backup.metainfo.xml \
    usr/share/safehold/safehold.conf usr/share/safehold/translations/safehold_en.qm \
    usr/share/man/man1/safehold.1.gz usr/share/man/man1/safehold-archive.1.gz \
    usr/share/man/man1/safehold-check-config.1.gz usr/share/man/man1/safehold-suite.1.gz \
    usr/share/doc/safehold/copyright usr/share/doc/safehold/changelog.gz; do
  expect "$file"
done

# Stripped: the debug symbols travel in the -dbgsym packages.
for program in "$root"/usr/bin/*; do
  if file "$program" | grep -q "not stripped"; then
    echo "check-package: $program is not stripped" >&2
    failed=1
  fi
done

desktop-file-validate "$root/usr/share/applications/com.korvel.backup.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.korvel.backup.metainfo.xml" >/dev/null
for page in "$root"/usr/share/man/man1/safehold*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [[ -n "$warnings" ]]; then
    echo "check-package: $page: $warnings" >&2
    failed=1
  fi
done
grep -qx "Exec=/usr/bin/safehold" "$root/usr/share/dbus-1/services/com.korvel.backup.service" || {
  echo "check-package: the D-Bus service file does not start /usr/bin/safehold" >&2
  failed=1
}

# The installed program answers its version with no display and no running instance.
expected=$(sed -n 's/^safehold (\([^)]*\)).*/\1/p' debian/changelog | head -n 1)
code=0
version=$(env -u DISPLAY -u WAYLAND_DISPLAY tests/with-buses "$root/usr/bin/safehold" --version 2>&1) \
  || code=$?
if [[ $code -ne 0 || "$version" != "safehold $expected"* ]]; then
  echo "check-package: safehold --version exited with $code and printed: $version" >&2
  failed=1
fi
"$root/usr/bin/safehold-archive" --help >/dev/null
"$root/usr/bin/safehold-check-config" "$root"/usr/share/safehold/applications/*.conf >/dev/null

# The package builds with exactly what the setup script installs for the build.
setup=$(sed -n '/^  # build/,/^  # formatting/p' scripts/setup-deps.sh | grep -v '^ *#' | tr ' ' '\n' \
  | grep -v '^$' | sort)
control=$(sed -n '/^Build-Depends:/,/^[A-Z]/p' debian/control | sed 's/^Build-Depends://; /^[A-Z]/d' \
  | tr ',' '\n' | sed 's/^ *//; s/ *$//' | grep -v '^$' | grep -v '^debhelper-compat' | sort)
if [[ "$setup" != "$control" ]]; then
  echo "check-package: Build-Depends differ from the setup script's build packages:" >&2
  diff <(echo "$setup") <(echo "$control") >&2 || true
  failed=1
fi

if [[ $failed -ne 0 ]]; then
  exit 1
fi
echo "check-package: every file in place, entries valid, the program and tools run"
