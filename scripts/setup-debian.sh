#!/usr/bin/env bash
# Installs everything Quindo's builds and tests use, from Debian packages.
# Safe to run again; it only installs what is missing.
set -euo pipefail

packages=(
  # builds
  build-essential cmake ninja-build pkg-config zlib1g-dev libgtest-dev libgcrypt20-dev
  clang libclang-rt-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev libgcrypt-mingw-w64-dev
  # the Windows programs under Wine on a virtual display
  wine wine64 xvfb xauth xdotool imagemagick locales fonts-ipafont-gothic
  # peer tools: test oracles and benchmark baselines
  zip unzip p7zip-full lhasa jlha-utils unar libarchive-tools
  python3 time hyperfine xdg-utils desktop-file-utils
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi

# A Japanese locale, so that Wine's ANSI code page is 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
fi
