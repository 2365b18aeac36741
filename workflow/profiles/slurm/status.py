#!/usr/bin/python3
"""The state of a Slurm job for Snakemake's --cluster-status: prints one line,
"running", "success" or "failed", for the job id that sbatch --parsable gave.

Slurm tells a job's state in three places, asked in this order:
  1. scontrol show job: the controller knows every job that has not ended and
     every ended job for MinJobAge seconds (300 by default), with or without
     accounting.
  2. sacct: the accounting database, where there is one; without accounting it
     fails, which is no answer.
  3. the exit status the job itself wrote: this profile's jobscript.sh writes
     .snakemake/slurm-exit/JOBID in the submit folder (the workflow's working
     folder, where this script runs) as the job's last act.
A job that neither scontrol nor sacct knows has ended more than MinJobAge ago:
its exit file says how it ended. Without one it ended before it could write it
(cancelled, over its time or memory, its node lost), so it failed; a job that
succeeded always wrote its file before it ended, and the file is on shared
storage long before the controller forgets the job. Snakemake stops the whole
workflow when a status command fails, so a controller that does not answer for
now (restarting, overloaded) gives "running" and the next check asks again;
any other failure of scontrol (no configuration, not installed) is an error,
rather than a job that runs for ever.
"""
import os
import subprocess
import sys
import time

# Slurm's job states (squeue(1) "JOB STATE CODES") by what they mean here.
SUCCEEDED = {"COMPLETED"}
FAILED = {"BOOT_FAIL", "CANCELLED", "DEADLINE", "FAILED", "NODE_FAIL", "OUT_OF_MEMORY", "PREEMPTED",
          "REVOKED", "TIMEOUT"}
EXIT_FOLDER = os.path.join(".snakemake", "slurm-exit")
# What scontrol says when the controller is out of reach for a while.
UNREACHABLE = ("Unable to contact slurm controller", "Socket timed out", "Zero Bytes were transmitted",
               "Connection refused", "in standby mode")


class NoAnswer(Exception):
    pass


def verdict(state):
    # "CANCELLED by 0" from sacct, "COMPLETING" before the epilog has ended
    state = state.split()[0] if state.split() else ""
    if state in SUCCEEDED:
        return "success"
    if state in FAILED:
        return "failed"
    return "running"


def ask(command):
    """The command's output, or None and its error when it fails. Raises NoAnswer when it hangs."""
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        raise NoAnswer(command[0] + " took over 60 s")
    except OSError as error:
        return None, str(error)
    if done.returncode != 0:
        return None, (done.stderr or done.stdout).strip()
    return done.stdout, ""


def from_scontrol(job):
    """The job's state, "" when the controller does not know the job. Raises NoAnswer,
    and RuntimeError when scontrol fails otherwise."""
    out, error = ask(["scontrol", "-o", "show", "job", job])
    if out is None:
        if "Invalid job id" in error:
            return ""
        if any(text in error for text in UNREACHABLE):
            raise NoAnswer(error)
        raise RuntimeError("scontrol -o show job " + job + " failed: " + error)
    for field in out.split():
        if field.startswith("JobState="):
            return field[len("JobState="):]
    raise RuntimeError("scontrol -o show job " + job + " printed no JobState: " + out.strip())


def from_sacct(job):
    """The job's state from accounting, "" when it is not there or there is no accounting."""
    out, _ = ask(["sacct", "-n", "-X", "-P", "-o", "State", "-j", job])
    lines = [line.strip() for line in (out or "").splitlines() if line.strip()]
    return lines[0] if lines else ""


def from_exit_file(job):
    """The exit status the job wrote, None when there is no file."""
    path = os.path.join(EXIT_FOLDER, job)
    try:
        with open(path) as written:
            text = written.read().strip()
    except OSError:
        return None
    return "success" if text == "0" else "failed"


def forget(job):
    try:
        os.remove(os.path.join(EXIT_FOLDER, job))
    except OSError:
        pass


def status(job):
    try:
        state = from_scontrol(job)
    except NoAnswer as error:
        print("status.py: no answer about job " + job + " (" + str(error).strip() + "); asking again later",
              file=sys.stderr)
        return "running"
    if state:
        return verdict(state)
    state = from_sacct(job)
    if state:
        return verdict(state)
    # Gone from the controller: a file being written as the job ended may take a
    # moment to show on shared storage, so look a few times before calling it failed.
    for attempt in range(3):
        answer = from_exit_file(job)
        if answer:
            return answer
        time.sleep(1)
    return "failed"


def main(argv):
    if len(argv) != 2:
        print("Usage: status.py JOBID  (as sbatch --parsable prints it; a ';CLUSTER' is ignored)", file=sys.stderr)
        return 2
    job = argv[1].split(";")[0].strip()
    try:
        answer = status(job)
    except RuntimeError as error:
        print("status.py: " + str(error), file=sys.stderr)
        return 1
    if answer != "running":
        forget(job)
    print(answer)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
