#!/usr/bin/env bash
# Installs the Debian 12 packages that Quillpost needs to build, run and test.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtk-4-dev libwebkitgtk-6.0-dev libglib2.0-dev
  nlohmann-json3-dev libcurl4-openssl-dev libssl-dev libsecret-1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth dbus dbus-x11 gnome-keyring imagemagick python3
  python3-dbus python3-gi
  fonts-dejavu-core
  xdg-utils unzip
  clang-14 libclang-rt-14-dev llvm-14
  cups cups-ipp-utils cups-client avahi-daemon libqpdf-dev qpdf
  libarchive-dev libxml2-dev zlib1g-dev
  libpq-dev postgresql
  lintian appstream desktop-file-utils dpkg-dev
)

# The page's unit tests run in Node and the built-in PDF editor is built with npm; any Node from
# 18 on will do, so one already installed (with the npm it brought) is kept.
if ! command -v node >/dev/null 2>&1; then
  packages+=(nodejs)
fi
if ! command -v npm >/dev/null 2>&1; then
  packages+=(npm)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
