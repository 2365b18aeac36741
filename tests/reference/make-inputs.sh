#!/usr/bin/env bash
# How the stored inputs were made, once: a generated 12 x 10 x 6 run of 40
# volumes and two designs built from its regressors with make-sdm (model 1:
# task, a drift and a rotation; model 2: task, three drifts and three
# translations; each with a trailing constant). The stored files are the
# reference's inputs as they are; this script is a record, not a build step.
# (The designs keep the raw values, as make-sdm wrote them before it z-scored by default.)
# usage: make-inputs.sh BIN OUTDIR
set -euo pipefail
bin=$(cd "$1" && pwd); out=$2
scratch=$(mktemp -d); trap 'rm -rf "$scratch"' EXIT
"$bin/Corvantis" generate --size 12,10,6 --volumes 40 --seed 11 "$scratch/gen" >/dev/null
mkdir -p "$out"; cp "$scratch/gen/run.fmr" "$scratch/gen/run.stc" "$out/"
# The generated model 2 holds every regressor: its data rows become a table.
{
    printf 'task\tdrift1\tdrift2\tdrift3\ttrans_x\ttrans_y\ttrans_z\trot_x\trot_y\trot_z\n'
    awk 'data { $1 = $1; gsub(/ /, "\t"); print } /^"/ { data = 1 }' "$scratch/gen/model2_drift_motion.sdm"
} > "$scratch/regressors.tsv"
cd "$out"
"$bin/Corvantis" make-sdm --table "$scratch/regressors.tsv" --fmr run.fmr --interest task \
    --confounds drift1,rot_x --no-standardize --output model1.sdm
"$bin/Corvantis" make-sdm --table "$scratch/regressors.tsv" --fmr run.fmr --interest task \
    --confounds drift1,drift2,drift3,trans_x,trans_y,trans_z --no-standardize --output model2.sdm
