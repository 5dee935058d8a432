#!/usr/bin/env bash
# Installs every system package the Linux build and its tests need (Debian 12).
# Safe to run repeatedly: apt skips what is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  juce-modules-source
  libgtest-dev googletest libbenchmark-dev
  xvfb xauth x11-utils imagemagick
  libxtst-dev
  clang libclang-rt-14-dev
  clang-19 libclang-rt-19-dev
  zip unzip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
