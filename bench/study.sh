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
# Wall and processor seconds (every process and thread) of one command, its output folder made afresh.
timed() {
    local out="$1"
    shift
    rm -rf "$out"
    python3 - "$out.log" "$@" <<'PY' || { cat "$out.log" >&2; exit 1; }
import os, subprocess, sys, time
with open(sys.argv[1], "w") as log:
    start = time.perf_counter()
    child = subprocess.Popen(sys.argv[2:], stdout=log, stderr=log)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
sys.exit(status) if status else print(f"{wall:.3f} {usage.ru_utime + usage.ru_stime:.3f}")
PY
}
row() {
    read -r wall cpu <<<"$2"
    printf '%-36s %7.1f s %7.1f runs/min %7.1f s processor (%.2f cores)\n' "$1" "$wall" \
        "$(awk "BEGIN { print $runs * 60 / $wall }")" "$cpu" "$(awk "BEGIN { print $cpu / $wall }")"
}

echo "Study: $runs runs of 64x64x36 voxels, 200 volumes, 24P against 36P, on $(nproc) cores" \
    "(load average $(cut -d' ' -f1 /proc/loadavg) before)"
one=$(timed "$work/jobs1" "$corvantis" study "$study/derivatives" "$work/jobs1" participant \
    --bids-dir "$study/rawdata" --jobs 1)
row "study participant --jobs 1" "$one"
two=$(timed "$work/jobs2" "$corvantis" study "$study/derivatives" "$work/jobs2" participant \
    --bids-dir "$study/rawdata" --jobs 2)
row "study participant --jobs 2" "$two"
printf '%-36s %7.2fx as fast\n' "--jobs 2 against --jobs 1" \
    "$(awk -v a="$one" -v b="$two" 'BEGIN { split(a, x, " "); split(b, y, " "); print x[1] / y[1] }')"
differ=$(diff -r -q "$work/jobs1" "$work/jobs2" | wc -l || true)
echo "(--jobs 1 and --jobs 2: $differ of $(find "$work/jobs1" -type f | wc -l) files differ in their bytes)"
rm -rf "$work/group" && cp -r "$work/jobs2" "$work/group"
start=$(now)
"$corvantis" study "$study/derivatives" "$work/group" group >/dev/null
printf '%-36s %7.1f s\n' "study group (after either)" "$(awk "BEGIN { print $(now) - $start }")"
if command -v snakemake >/dev/null; then
    mkdir -p "$work/snakemake-work"
    snake=$(timed "$work/snakemake" snakemake -s "$root/workflow/Snakefile" -j 2 --directory "$work/snakemake-work" \
        --config corvantis="$corvantis" derivatives="$study/derivatives" output="$work/snakemake" \
        bids_dir="$study/rawdata" model1=24P model2=36P)
    row "snakemake -j 2 (participant, group)" "$snake"
else
    echo "snakemake is not installed: apt-get install snakemake for its row"
fi
