#!/usr/bin/env bash
# The test suite once more, built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/build.sh" "$here/build-asan" -DKS_SANITIZE=ON -DKS_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
cd "$here/build-asan"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --output-on-failure -j "$(nproc)" --timeout 900
