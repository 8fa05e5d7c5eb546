#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds.
# Usage: scripts/fuzz-smoke.sh [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}
CC=clang CXX=clang++ "$here/scripts/build.sh" "$here/build-fuzz" -DKS_FUZZ=ON -DKS_BUILD_GAME=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for f in "$here"/build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  mkdir -p "$work/$name"
  if "$f" -max_total_time="$seconds" -artifact_prefix="$work/$name-" -rss_limit_mb=2048 -print_final_stats=0 "$work/$name" \
       >"$work/$name.log" 2>&1; then
    echo "fuzz $name: ok ($seconds s)"
  else
    echo "fuzz $name: FAILED"; tail -40 "$work/$name.log"; status=1
  fi
done
exit $status
