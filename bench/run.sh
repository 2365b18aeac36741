#!/bin/bash
# Builds the voxel loop benchmark (release flags) and runs it: one table per
# workload, then the peak memory of a W1 run with both residual outputs on.
#   bash bench/run.sh [W1 W2 W3 ...]      BUILD_DIR overrides build/bench
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench}"
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
/usr/bin/python3 -c 'import numpy' 2>/dev/null || need+=(python3-numpy libopenblas0-pthread)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update && apt-get install -y "${need[@]}"
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target quorvex_bench -j 2
"$build/bin/quorvex_bench" "$@"
"$build/bin/quorvex_bench" --memory W1
