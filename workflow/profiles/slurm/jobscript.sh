#!/bin/sh
# properties = {properties}
# The job's exit status is written last, for status.py once Slurm has
# forgotten the job (see there). The job runs in a subshell, since it ends
# with "exit".
( {exec_job} )
status=$?
exits="$SLURM_SUBMIT_DIR/.snakemake/slurm-exit"
mkdir -p "$exits" && echo $status > "$exits/$SLURM_JOB_ID.partial" && mv -f "$exits/$SLURM_JOB_ID.partial" "$exits/$SLURM_JOB_ID"
exit $status
