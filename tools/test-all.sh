#!/usr/bin/env bash
# Builds and runs the whole test suite in every preset; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
for preset in release asan; do
    echo "=== preset: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
