#!/usr/bin/env bash
# Builds and runs the whole test suite in every preset; exits non-zero on any failure.
# The windows preset cross-builds Quorvex.dll and Corvantis.exe and compares them,
# run under Wine, with the release build; so it comes after release. The fuzz
# preset replays the seed corpus and fuzzes each target for 45 s.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh g++-mingw-w64-x86-64-posix wine64 python3
jobs=$(nproc 2>/dev/null || echo 2)
for preset in release asan windows fuzz; do
    echo "=== preset: $preset"
    started=$SECONDS
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
    echo "=== preset $preset: $((SECONDS - started)) s"
done
