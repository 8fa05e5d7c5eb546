#!/usr/bin/env bash
# Installs every Debian package that building, testing, fuzzing and running Kessra needs.
# The README and CI both call this script; keep it the one list.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-dev
  # libraries
  libode-dev duktape-dev libpng-dev zlib1g-dev libsdl2-dev
  libgl-dev libglu1-mesa-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # integration tests of the window under a virtual display
  xvfb xauth mesa-utils libgl1-mesa-dri
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
