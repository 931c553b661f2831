#!/usr/bin/env bash
# Installs the Debian packages quarv needs (idempotent: only what is missing is installed).
set -euo pipefail
PACKAGES=(cmake ninja-build ccache g++ clang clang-format libclang-rt-14-dev
  qt6-base-dev libqt6opengl6-dev libqt6openglwidgets6 libqcustomplot-dev libqcustomplot2.1-qt6
  libgl1-mesa-dev libglu1-mesa-dev xvfb xauth libgtest-dev libgmock-dev libbenchmark-dev
  libproj-dev proj-data nlohmann-json3-dev python3-dev pybind11-dev python3-numpy python3-pytest)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "==> Debian packages: all ${#PACKAGES[@]} present"
  exit 0
fi
echo "==> Installing Debian packages: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
