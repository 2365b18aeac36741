#!/usr/bin/env bash
# The main job: builds Quorvex and Corvantis, generates a small preprocessed
# study (3 subjects x 2 runs with raw-unit confound tables, events and brain
# masks; one run moves a lot), compares the 24P and 36P confound models on every
# run through the Snakemake workflow on this machine's cores, then prints the
# group table and where the report is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cores=$(nproc 2>/dev/null || echo 2)
cmake --preset release >/dev/null
cmake --build --preset release -j "$cores" --target Corvantis Quorvex >/dev/null

study=$(realpath -m "${1:-demo-study}")
bin=$PWD/build/release/bin
rm -rf "$study"
"$bin/Corvantis" generate-study "$study"
echo
echo "$ snakemake -s workflow/Snakefile -j $cores --config derivatives=... output=$study/results ..."
status=0
snakemake -s workflow/Snakefile -j "$cores" --directory "$study" --quiet all \
    --config corvantis="$bin/Corvantis" derivatives="$study/derivatives" output="$study/results" \
    bids_dir="$study/rawdata" model1=24P model2=36P || status=$?
echo
echo "$ $study/results/group.tsv (some of its columns)"
awk -F'\t' '
    NR == 1 { for (i = 1; i <= NF; i++) at[$i] = i
              printf "%-34s %-7s %7s %9s %8s %8s %9s %9s  %s\n", "run", "status", "voxels", "F>FDR", "tSNR 1",
                     "tSNR 2", "tSNR gain", "R2adj gain", "outlier in"; next }
    { printf "%-34s %-7s %7s %9s %8s %8s %9s %9s  %s\n", $at["run_id"], $at["status"], $at["voxels_analysed"],
             $at["share_f_survives_fdr"], $at["median_tsnr1"], $at["median_tsnr2"], $at["median_delta_tsnr"],
             $at["median_delta_r2adj"], $at["outlier_in"] }' "$study/results/group.tsv"
echo
echo "Report: $study/results/report.html"
exit "$status"
