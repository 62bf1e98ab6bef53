#!/usr/bin/env bash
# Installs the Debian packages KAVEL needs to build, test and package, and only those missing.
# Safe to run again: it does nothing when everything is there.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libxcb1-dev libqt6svg6 qt6-svg-dev fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-tidy clang-format
  xvfb xauth xdotool x11-utils imagemagick openbox
  fonts-wine qt6-image-formats-plugins
  python3 python3-pil python3-numpy python3-scipy python3-skimage python3-opencv
  python3-dev python3-venv python3-pytest pybind11-dev python3-dask python3-distributed python3-zarr
  dpkg-dev file lintian help2man desktop-file-utils bash-completion strace
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages already installed"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "install-deps: not root and no sudo; install: ${missing[*]}" >&2; exit 1; }
  SUDO="sudo"
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "install-deps: done"
