#!/usr/bin/env bash
# Installs every Debian package Vantrel needs to build, run and test.
# Runs as root, or through sudo when started by an ordinary user.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6printsupport6 libgl-dev
  qt6-translations-l10n
  ffmpeg libopencore-amrnb-dev libavformat-dev libavcodec-dev libavfilter-dev libavutil-dev
  libseccomp-dev
  fonts-noto-cjk
  xvfb xauth imagemagick xdotool
  dpkg-dev librsvg2-bin desktop-file-utils appstream lintian file
  clang libclang-rt-dev
  parallel
  gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  mkvtoolnix x264 lame flac sox
  debootstrap
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

# apt's own output goes to a log that is shown only when a step fails.
log=$(mktemp "${TMPDIR:-/tmp}/vantrel-apt.XXXXXX.log")
step() {
  local what=$1; shift
  echo "install-deps: $what"
  if ! "$@" >>"$log" 2>&1; then
    echo "install-deps: failed: $what; apt's log follows" >&2
    cat "$log" >&2
    exit 1
  fi
}
step "updating the package lists" $SUDO apt-get update -q
step "installing ${#missing[@]} packages: ${missing[*]}" \
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
rm -f "$log"
echo "install-deps: done"
