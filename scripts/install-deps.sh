#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, skipping those already present.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format clang-tidy
  qtbase5-dev libqt5opengl5-dev libpcap-dev libgtest-dev libgmock-dev libbenchmark-dev
  libpcl-dev libvtk9-qt-dev libboost-dev
  xvfb xauth fonts-wqy-microhei
  git help2man gzip man-db dpkg-dev fakeroot file lintian appstream desktop-file-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
