#!/usr/bin/env bash
# Sets up and runs the game on the default data. Extra arguments go to kessra.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
export KS_HOME="$here/build/data"
exec "$here/build/bin/kessra" "$@"
