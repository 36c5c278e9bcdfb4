#!/usr/bin/env bash
# install-deps.sh: installs the Debian packages that building and testing Marrowind need.
set -euo pipefail

packages=(
  build-essential cmake
  libboost-program-options-dev libboost-filesystem-dev
  libgtest-dev libbenchmark-dev pkg-config
  # The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
  clang-14 libclang-rt-14-dev
  # The Python package: its bindings, its tests, the alignment readers and the plots.
  pybind11-dev python3-pybind11 python3-dev python3-numpy python3-pytest python3-biopython
  python3-matplotlib
)

if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi
