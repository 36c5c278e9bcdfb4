#!/usr/bin/env bash
# install-deps.sh: installs the Debian packages that building and testing Marrowind need.
#
# Usage: tools/install-deps.sh [--aarch64] [--slurm]
#   --aarch64  also the cross toolchain for 64-bit Arm, the arm64 libraries beside the host's
#              (Debian multiarch) and qemu-user-static to run the unit tests: what the cross
#              build of cmake/aarch64-linux-gnu.cmake needs, on an x86-64 Debian host.
#   --slurm    also the SLURM cluster of one node that the batch workflow's SLURM test runs
#              (munge, slurmctld, slurmd, slurm-client, slurmdbd, mariadb-server; see
#              tools/slurm-one-node.sh, which installs them without starting their daemons).
set -euo pipefail

packages=(
  build-essential cmake
  libboost-program-options-dev libboost-filesystem-dev
  # zlib, through which the program reads gzip-compressed alignments.
  zlib1g-dev
  libgtest-dev libbenchmark-dev pkg-config
  # The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
  clang-14 libclang-rt-14-dev
  # The Python package: its bindings, its tests, the alignment readers and the plots.
  pybind11-dev python3-pybind11 python3-dev python3-numpy python3-pytest python3-biopython
  python3-matplotlib
  # Installing the package with pip into a virtual environment, and building its wheel.
  python3-venv python3-setuptools python3-wheel python3-build
  # Structures: gemmi reads and writes them; the tests score structures that
  # python-biopython-doc ships and check the exports in Jalview and PyMOL.
  python3-gemmi python-biopython-doc jalview pymol
  # The HTML report's test opens it in headless Chromium through Selenium, and reads the
  # screenshots' pixels with Pillow.
  chromium chromium-driver python3-selenium python3-pil
  # Deliberately broken alignment files that the readers' tests must refuse.
  hmmer-examples
  # The batch workflow (workflow/) and its test.
  snakemake
)
cross=0
slurm=0
for option in "$@"; do
  case "$option" in
    --aarch64) cross=1 ;;
    --slurm) slurm=1 ;;
    *) echo "usage: $0 [--aarch64] [--slurm]" >&2; exit 2 ;;
  esac
done
if [ "$cross" -eq 1 ]; then
  packages+=(
    g++-aarch64-linux-gnu qemu-user-static
    libboost-program-options-dev:arm64 libboost-filesystem-dev:arm64 libgtest-dev:arm64
    zlib1g-dev:arm64
  )
fi

if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
if [ "$cross" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  "${as_root[@]}" dpkg --add-architecture arm64
fi
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
if [ "$slurm" -eq 1 ]; then
  "$(dirname "$0")/slurm-one-node.sh" install
fi
