#!/usr/bin/env bash
# Installs the Debian packages Zibu needs to build, run and test, skipping those already present.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build git
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
  libqt6opengl6-dev qt6-tools-dev qt6-wayland
  libcurl4-openssl-dev libsimpleini-dev libidn2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev zlib1g-dev libbrotli-dev
  nlohmann-json3-dev libsqlite3-dev
  libxss-dev libx11-dev
  libwayland-dev libwayland-bin wayland-protocols
  libxml2-dev libexpat1-dev
  tinyproxy xvfb xauth xdotool x11-apps imagemagick openbox
  clang libclang-rt-dev
  fonts-dejavu-core ccache
  desktop-file-utils appstream dbus-daemon
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
