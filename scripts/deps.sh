#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing.
# Usage: scripts/deps.sh [extra-package ...]
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev nlohmann-json3-dev
  liblapack-dev
  libnanoflann-dev
  libcli11-dev libfmt-dev
  libpng-dev liblzf-dev pcl-tools
  pybind11-dev python3-dev python3-numpy python3-pytest python3-setuptools
  python3-dask python3-distributed
  clang libclang-rt-14-dev libomp-dev
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing missing packages: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
