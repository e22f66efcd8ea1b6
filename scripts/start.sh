#!/usr/bin/env bash
# Installs what is missing, builds ZudSieve and starts it in the current
# directory (where "Zud.dat" and "ZudStatus.dat" live). Without a display it
# runs the console front end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
build="$top/build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target zudsieve
exec "$build/zudsieve" "$@"
