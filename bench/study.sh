#!/bin/bash
# Builds Corvantis and the plug-in (release flags) and measures a study's
# throughput: twenty whole-brain-sized runs (generate-study --subjects 10 --size
# 64,64,36 --volumes 200) through `study participant` with --jobs 1 and --jobs 2,
# and through the Snakemake workflow with -j 2 when snakemake is installed.
#   bash bench/study.sh [SUBJECTS]     BUILD_DIR overrides build/bench, WORK the study's folder
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench}"
work="${WORK:-$build/study-work}"
subjects="${1:-10}"
need=()
for p in cmake ninja-build g++ libgtest-dev libnifti2-dev libpng-dev libisal-dev libstb-dev nlohmann-json3-dev \
    libboost-math-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get update && apt-get install -y "${need[@]}"
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target Corvantis Quorvex -j 2
corvantis="$build/bin/Corvantis"
study="$work/study-$subjects"
[ -d "$study/derivatives" ] || "$corvantis" generate-study "$study" --subjects "$subjects" --size 64,64,36 \
    --volumes 200 >/dev/null
runs=$(find "$study/derivatives" -name '*_desc-preproc_bold.nii.gz' | wc -l)

now() { date +%s.%N; }
# Seconds of one command, its output folder made afresh.
timed() {
    local out="$1"
    shift
    rm -rf "$out"
    local start end
    start=$(now)
    "$@" >"$out.log" 2>&1 || { cat "$out.log" >&2; exit 1; }
    end=$(now)
    awk "BEGIN { print $end - $start }"
}
row() { printf '%-36s %8.1f s %8.1f runs/min\n' "$1" "$2" "$(awk "BEGIN { print $runs * 60 / $2 }")"; }

echo "Study: $runs runs of 64x64x36 voxels, 200 volumes, 24P against 36P, on $(nproc) cores"
one=$(timed "$work/jobs1" "$corvantis" study "$study/derivatives" "$work/jobs1" participant \
    --bids-dir "$study/rawdata" --jobs 1)
row "study participant --jobs 1" "$one"
two=$(timed "$work/jobs2" "$corvantis" study "$study/derivatives" "$work/jobs2" participant \
    --bids-dir "$study/rawdata" --jobs 2)
row "study participant --jobs 2" "$two"
printf '%-36s %8.2fx\n' "--jobs 2 against --jobs 1" "$(awk "BEGIN { print $one / $two }")"
diff -r -q "$work/jobs1" "$work/jobs2" >/dev/null && echo "(--jobs 1 and --jobs 2 wrote the same bytes)" \
    || { echo "--jobs 1 and --jobs 2 wrote different files" >&2; exit 1; }
rm -rf "$work/group" && cp -r "$work/jobs2" "$work/group"
start=$(now)
"$corvantis" study "$study/derivatives" "$work/group" group >/dev/null
printf '%-36s %8.1f s\n' "study group (after either)" "$(awk "BEGIN { print $(now) - $start }")"
if command -v snakemake >/dev/null; then
    mkdir -p "$work/snakemake-work"
    snake=$(timed "$work/snakemake" snakemake -s "$root/workflow/Snakefile" -j 2 --directory "$work/snakemake-work" \
        --config corvantis="$corvantis" derivatives="$study/derivatives" output="$work/snakemake" \
        bids_dir="$study/rawdata" model1=24P model2=36P)
    row "snakemake -j 2 (participant, group)" "$snake"
else
    echo "snakemake is not installed: apt-get install snakemake for its row"
fi
