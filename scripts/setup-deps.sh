#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Quick when everything is present: apt-get runs only for missing packages.
set -euo pipefail

packages=(
  # build (debian/control's Build-Depends name exactly these, the engine's and the application
  # half's)
  g++ cmake ninja-build pkg-config gettext
  # engine
  libglib2.0-dev libxml2-dev libgsf-1-dev libarchive-dev libdeflate-dev zlib1g-dev libssl-dev libgconf2-dev
  # application half
  qt6-base-dev qt6-l10n-tools libx11-dev
  # formatting
  clang-format
  # the Debian package: its build and its checks
  debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream man-db file
  # tests
  libgtest-dev libgmock-dev dbus dbus-daemon python3 python3-dbusmock zip unzip p7zip-full libarchive-tools openssl
  e2fsprogs dosfstools exfatprogs exfat-fuse util-linux mount xvfb xauth libglib2.0-bin
  # the demo drives the program's window
  xdotool
  # fuzzing: clang and its libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # benchmarks
  time
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "setup-deps: installing ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
