#!/usr/bin/env bash
# The main job: builds Quorvex and Corvantis, generates a small realistic run
# with two design files (model 1: task + drift, model 2: task + drift + motion),
# compares the models through Corvantis, summarises the maps it wrote and draws them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target Corvantis Quorvex >/dev/null

out=${1:-demo-output}
bin=build/release/bin
rm -rf "$out"
"$bin/Corvantis" generate "$out"
echo
echo "$ Corvantis --fmr $out/run.fmr --set sdmfile1=... --set sdmfile2=... --set residuals2=1 start"
"$bin/Corvantis" --fmr "$out/run.fmr" \
    --set sdmfile1="$out/model1_drift.sdm" --set sdmfile2="$out/model2_drift_motion.sdm" \
    --set residuals2=1 start
echo "$ Corvantis summary $out/*.map"
"$bin/Corvantis" summary "$out"/*.map
echo "$ Corvantis render --fmr $out/run.fmr $out/*.map -o $out/maps.png"
"$bin/Corvantis" render --fmr "$out/run.fmr" "$out"/*.map -o "$out/maps.png"
