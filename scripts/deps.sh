#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages, and any
# further packages named as arguments. Does nothing when everything is already there.
#   scripts/deps.sh [PACKAGE...]
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  # Qt Charts; its CMake files need the OpenGL module, which Debian's package does not pull in
  qt6-charts-dev libqt6opengl6-dev
  libmodbus-dev
  fonts-noto-cjk
  # a TrueType CJK face, which Qt's PDF writer embeds in the calibration certificate
  fonts-wqy-zenhei
  xvfb xauth x11-utils xdotool imagemagick
  # checked builds (sanitizers, fuzzing) and the benchmark's reference poller
  clang-14 libclang-rt-14-dev mbpoll
  # the recording tests read their CSV back with Python's csv module and pandas
  python3-pandas
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "Missing packages: ${missing[*]}. Run this as root, or install sudo." >&2
    exit 1
  fi
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
