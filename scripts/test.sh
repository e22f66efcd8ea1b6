#!/usr/bin/env bash
# Builds ZudSieve with its tests and runs them all.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
build="$top/build-test"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZUD_WERROR=ON -DZUD_BUILD_TESTS=ON -DZUD_BUILD_BENCH=ON \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
# Offscreen Qt for the window tests; no display is needed. Every group
# but the tools (ctest -L tool makes the README's pictures).
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -LE tool
# Every instruction set of this machine against exact arithmetic, as a volunteer would check.
"$build/zudsieve" --self-test
