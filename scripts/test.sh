#!/usr/bin/env bash
# Sets up and passes every test: installs the packages, builds, generates the data, runs ctest.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
cd "$here/build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
