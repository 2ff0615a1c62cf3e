#!/usr/bin/env bash
# Installs every Debian package Vantrel needs to build, run and test.
# Runs as root, or through sudo when started by an ordinary user.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6printsupport6 libgl-dev
  ffmpeg libopencore-amrnb-dev libavformat-dev libavcodec-dev libavutil-dev
  fonts-noto-cjk
  xvfb xauth imagemagick xdotool
  dpkg-dev librsvg2-bin desktop-file-utils appstream lintian file
  clang libclang-rt-dev
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
