#!/usr/bin/env bash
# Sets up and runs a short race on Rabbit Hill with kessra-sim, the headless race runner:
# the test controller (lineup code 1) against seven robots, two laps, at most ten
# simulated minutes. The robots follow racing lines learned from earlier laps, and every
# run learns from the controller's laps (--learn), so they get further run by run. It prints
# the results and leaves a picture of the riders' paths in build/race.png. Extra arguments
# go to kessra-sim (--help lists them).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
exec "$here/build/bin/kessra-sim" --data "$here/build/data" --track rabbithill \
  --lineup 1,2,2,2,2,2,2,2 --laps 2 --max-seconds 600 --learn --plot "$here/build/race.png" "$@"
