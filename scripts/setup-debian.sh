#!/usr/bin/env bash
# Installs from Debian packages what Quindo needs.
#
#   scripts/setup-debian.sh            what building the Linux program needs
#   scripts/setup-debian.sh --tests    also everything the other builds (Windows
#                                      programs, sanitizers, fuzz targets) and
#                                      the tests use: GoogleTest, Wine, peer tools
#
# Safe to run again; it only installs what is missing.
set -euo pipefail

tests=0
for argument in "$@"; do
  case "$argument" in
    --tests) tests=1 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "setup-debian.sh: unknown argument '$argument' (see --help)" >&2; exit 2 ;;
  esac
done

packages=(
  # the Linux program: compiler, build tools, zlib, libdeflate (faster
  # inflate), libgcrypt (WinZip AES), libutf8proc (names in NFC), msgfmt for
  # the catalogues
  build-essential cmake ninja-build pkg-config zlib1g-dev libdeflate-dev libgcrypt20-dev libutf8proc-dev gettext
)
if [ "$tests" -eq 1 ]; then
  packages+=(
    # the test suite, the sanitizer and fuzz builds, the Windows programs
    libgtest-dev python3 pkg-config clang libclang-rt-dev
    g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev libgcrypt-mingw-w64-dev
    fp-utils  # chmcmd, which compiles the help file, and chmls
    # the Windows programs under Wine on a virtual display
    wine wine64 xvfb xauth xdotool imagemagick locales fonts-ipafont-gothic
    # peer tools: test oracles and benchmark baselines; man for the man page
    zip unzip p7zip-full lhasa jlha-utils unar libarchive-tools
    time hyperfine xdg-utils desktop-file-utils man-db
  )
fi

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
if [ "$tests" -eq 1 ] && ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
fi
