#!/usr/bin/env bash
# Configures and builds one build folder. Usage: scripts/build.sh DIR [cmake options...]
# The build also generates the default data tree into DIR/data.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
cmake -S "$here" -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
