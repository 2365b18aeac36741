#!/bin/bash
# Builds Corvantis and the plug-in (release flags) and runs the NIfTI benchmark:
# Corvantis against the nibabel + numpy peer on a whole-brain-sized .nii.gz run,
# and with --realistic also on a run of the 2 mm template grid (1.3 GB as float32; minutes).
#   bash bench/nifti.sh [--realistic]     BUILD_DIR overrides build/bench, WORK the inputs' folder
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench}"
work="${WORK:-$build/nifti-work}"
need=()
for p in cmake ninja-build g++ libgtest-dev libnifti2-dev libpng-dev libisal-dev libstb-dev python3-numpy libopenblas0-pthread \
    python3-nibabel; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get update && apt-get install -y "${need[@]}"
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target Corvantis Quorvex -j 2
/usr/bin/python3 "$root/bench/nifti_bench.py" "$build/bin" "$work" "$@"
