#!/usr/bin/env bash
# The study's workflow through a real Slurm (a private one: munged, slurmctld,
# slurmd started here, no accounting) with workflow/profiles/slurm:
#   - every output byte for byte as a local run's, with a damaged run reported
#     by name, the group table and the report written;
#   - run again, only the failed run is tried again;
#   - a participant job the scheduler cancels is noticed and named, without a hang.
# Prints the time per job through Slurm; KEEP_SLURM_TEST=1 keeps its folder
# (logs included). Needs root (slurmd starts the jobs);
# exits 77 (skipped) when Slurm, munge or snakemake is not installed.
#
#   tests/workflow/slurm_test.sh CORVANTIS WORKFLOW_FOLDER
set -euo pipefail
corvantis=$1
workflow=$2
here=$(cd "$(dirname "$0")" && pwd)

for program in munged slurmctld slurmd sbatch scontrol scancel sinfo squeue snakemake; do
    if ! command -v "$program" >/dev/null; then
        echo "SKIPPED: $program is not installed (Debian packages slurm-wlm, munge, snakemake)"
        exit 77
    fi
done
if [ "$(id -u)" != 0 ]; then
    echo "SKIPPED: a private Slurm's slurmd must run as root"
    exit 77
fi

# shellcheck source=private_slurm.sh
source "$here/private_slurm.sh"
tmp=$(mktemp -d /tmp/corvantis-slurm.XXXXXX)
snakemake_pid=
cleanup() {
    if [ -n "$snakemake_pid" ]; then kill "$snakemake_pid" 2>/dev/null || true; fi
    # No job of the private Slurm may outlive its daemons.
    if [ -n "${SLURM_CONF:-}" ] && [ "$(squeue -h 2>/dev/null | wc -l)" != 0 ]; then
        scancel --full --user=root 2>/dev/null || true
        for _ in $(seq 50); do [ "$(squeue -h 2>/dev/null | wc -l)" = 0 ] && break; sleep 0.2; done
    fi
    stop_private_slurm
    if [ -n "${KEEP_SLURM_TEST:-}" ]; then echo "kept $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT
trap 'exit 143' TERM INT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

started=$SECONDS
start_private_slurm "$tmp/slurm"
echo "private Slurm idle after $((SECONDS - started)) s: $(sinfo -h -N -o '%N %c CPUs %m MB')"

"$corvantis" generate-study "$tmp/study" --subjects 2 >/dev/null
damaged=sub-01_task-rest_run-2_space-MNI
bold=$tmp/study/derivatives/sub-01/func/${damaged}_desc-preproc_bold.nii.gz
head -c "$(($(stat -c %s "$bold") / 2))" "$bold" >"$bold.cut" && mv "$bold.cut" "$bold"

# workflow_command FOLDER OUTPUT [OPTION...]: sets command to snakemake running the
# workflow on the study in FOLDER (its log: FOLDER.log), time-limited, so that
# it can run in the background as one process.
workflow_command() {
    local folder=$1 output=$2
    shift 2
    mkdir -p "$folder"
    command=(timeout -k 10 200 snakemake -s "$workflow/Snakefile" --directory "$folder" "$@" --config
             corvantis="$corvantis" derivatives="$tmp/study/derivatives" bids_dir="$tmp/study/rawdata"
             output="$output" model1=6P model2=24P run_memory_mb=500 group_memory_mb=500)
}

# In the background, so that a signal to the test is handled at once.
run_workflow() {
    local status=0
    workflow_command "$@"
    "${command[@]}" >"$1.log" 2>&1 &
    snakemake_pid=$!
    wait "$snakemake_pid" || status=$?
    snakemake_pid=
    return $status
}

started=$SECONDS
status=0
run_workflow "$tmp/local" "$tmp/local-results" -j 2 || status=$?
local_seconds=$((SECONDS - started))
[ "$status" = 1 ] || fail "the local run ended with $status, not 1: $(tail -20 "$tmp/local.log")"

started=$SECONDS
status=0
run_workflow "$tmp/cluster" "$tmp/cluster-results" --profile "$workflow/profiles/slurm" || status=$?
cluster_seconds=$((SECONDS - started))
[ "$status" = 124 ] && fail "the run through Slurm did not end within 200 s: $(tail -30 "$tmp/cluster.log")"
[ "$status" = 1 ] || fail "the run through Slurm ended with $status, not 1: $(tail -30 "$tmp/cluster.log")"
grep -q "runs without results, see $tmp/cluster-results/report.html: $damaged (failed)" "$tmp/cluster.log" ||
    fail "the run through Slurm does not name the damaged run: $(tail -30 "$tmp/cluster.log")"
for file in group.tsv report.html; do
    [ -s "$tmp/cluster-results/$file" ] || fail "no $file through Slurm"
done
jobs=$(grep -c "^Submitted job .* with external jobid" "$tmp/cluster.log" || true)
[ "$jobs" = 5 ] || fail "$jobs jobs submitted to Slurm, not 5 (4 runs and the group level)"
# Byte for byte, every file, none missing on either side.
diff -r "$tmp/local-results" "$tmp/cluster-results" >"$tmp/diff" || fail "outputs differ: $(head -20 "$tmp/diff")"
files=$(find "$tmp/cluster-results" -type f | wc -l)
[ "$files" -gt 30 ] || fail "only $files outputs"
echo "through Slurm: $files outputs byte for byte as the local run's;" \
    "$jobs jobs in $cluster_seconds s, locally $local_seconds s:" \
    "$(awk -v c="$cluster_seconds" -v l="$local_seconds" -v j="$jobs" 'BEGIN { printf "%.1f", (c - l) / j }') s more a job"

# Again through Slurm: only the failed run is tried again, then the group level.
status=0
run_workflow "$tmp/cluster" "$tmp/cluster-results" --profile "$workflow/profiles/slurm" || status=$?
[ "$status" = 1 ] || fail "the second run through Slurm ended with $status, not 1: $(tail -30 "$tmp/cluster.log")"
again=$(grep "wildcards: record=" "$tmp/cluster.log" | sort -u | tr -d ' ')
[ "$again" = "wildcards:record=sub-01/func/${damaged}_model-6Pvs24P_record.json" ] ||
    fail "the second run through Slurm ran other runs than the failed one: $again"
jobs=$(grep -c "^Submitted job .* with external jobid" "$tmp/cluster.log" || true)
[ "$jobs" = 2 ] || fail "$jobs jobs submitted to Slurm the second time, not 2 (the failed run and the group level)"
diff -r "$tmp/local-results" "$tmp/cluster-results" >"$tmp/diff" || fail "outputs differ after the second run: $(head -20 "$tmp/diff")"
echo "again through Slurm: only the failed run tried again"

# A run whose job the scheduler cancels while it runs: its Corvantis waits
# (writing its Slurm job id) until then, the other runs go on.
victim=sub-02_task-rest_run-1_space-MNI
mkdir -p "$tmp/bin"
cat >"$tmp/bin/Corvantis" <<SCRIPT
#!/bin/sh
case " \$* " in
*" --run-id $victim "*) echo "\$SLURM_JOB_ID" > "$tmp/victim-job"; sleep 600 ;;
esac
exec "$corvantis" "\$@"
SCRIPT
chmod +x "$tmp/bin/Corvantis"
real_corvantis=$corvantis
corvantis=$tmp/bin/Corvantis
started=$SECONDS
workflow_command "$tmp/killed" "$tmp/killed-results" --profile "$workflow/profiles/slurm"
"${command[@]}" >"$tmp/killed.log" 2>&1 &
snakemake_pid=$!
until [ -s "$tmp/victim-job" ]; do
    kill -0 "$snakemake_pid" 2>/dev/null || fail "the workflow ended before the run to cancel started: $(tail -30 "$tmp/killed.log")"
    [ $((SECONDS - started)) -lt 120 ] || fail "the run to cancel did not start within 120 s"
    sleep 0.2
done
scancel "$(cat "$tmp/victim-job")"
cancelled=$SECONDS
status=0
wait "$snakemake_pid" || status=$?
snakemake_pid=
corvantis=$real_corvantis
[ "$status" = 124 ] && fail "the cancelled job was not noticed within 200 s: $(tail -30 "$tmp/killed.log")"
[ "$status" != 0 ] || fail "the workflow succeeded although a job was cancelled"
grep -q "Error in rule participant" "$tmp/killed.log" || fail "no error for the cancelled job: $(tail -30 "$tmp/killed.log")"
grep -q "wildcards: record=sub-02/func/${victim}_model-6Pvs24P_record.json" "$tmp/killed.log" ||
    fail "the cancelled job's run is not named"
grep -q "cluster_jobid: $(cat "$tmp/victim-job")" "$tmp/killed.log" || fail "the cancelled job's Slurm id is not named"
for run in sub-01_task-rest_run-1_space-MNI sub-02_task-rest_run-2_space-MNI; do
    grep -q '"status": "done"' "$tmp/killed-results/${run:0:6}/func/${run}_model-6Pvs24P_record.json" ||
        fail "$run did not go on beside the cancelled job"
done
[ ! -e "$tmp/killed-results/sub-02/func/${victim}_model-6Pvs24P_record.json" ] || fail "the cancelled run has a record"
echo "a cancelled job noticed $((SECONDS - cancelled)) s after scancel, the workflow ended with $status"
echo "PASSED"
