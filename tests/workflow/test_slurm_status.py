#!/usr/bin/python3
"""workflow/profiles/slurm/status.py against stand-ins for scontrol and sacct
that answer as Slurm 22.05 does, with and without accounting, and after the
controller has forgotten a job.

    /usr/bin/python3 tests/workflow/test_slurm_status.py WORKFLOW_FOLDER
"""
import os
import subprocess
import sys
import tempfile
import unittest

STATUS = None
UNKNOWN = ("slurm_load_jobs error: Invalid job id specified\n", 1)
NO_ACCOUNTING = ("Slurm accounting storage is disabled\n", 1)


def fake(folder, name):
    # Prints NAME.out (to stderr when it ends in an error), exits with NAME.rc, logs its arguments.
    path = os.path.join(folder, "bin", name)
    with open(path, "w") as script:
        script.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s/%s.args"\n' % (folder, name) +
                     'if [ "$(cat "%s/%s.rc")" = 0 ]; then cat "%s/%s.out"; else cat "%s/%s.out" >&2; fi\n'
                     % ((folder, name) * 3) + 'exit "$(cat "%s/%s.rc")"\n' % (folder, name))
    os.chmod(path, 0o755)


class StatusScript(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name
        os.makedirs(os.path.join(self.dir, "bin"))
        for name in ("scontrol", "sacct"):
            fake(self.dir, name)
        self.answer("sacct", *NO_ACCOUNTING)

    def tearDown(self):
        self.folder.cleanup()

    def answer(self, program, out, rc=0):
        with open(os.path.join(self.dir, program + ".out"), "w") as f:
            f.write(out)
        with open(os.path.join(self.dir, program + ".rc"), "w") as f:
            f.write(str(rc))

    def job_state(self, state):
        self.answer("scontrol", "JobId=4711 JobName=corvantis-participant UserId=root(0) JobState=%s Reason=None "
                    "ExitCode=0:0 RunTime=00:00:03\n" % state)

    def exit_file(self, job, text):
        folder = os.path.join(self.dir, ".snakemake", "slurm-exit")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, job), "w") as f:
            f.write(text)
        return os.path.join(folder, job)

    def status(self, *args):
        env = dict(os.environ, PATH=os.path.join(self.dir, "bin") + os.pathsep + os.environ["PATH"])
        done = subprocess.run([STATUS] + list(args), cwd=self.dir, env=env, capture_output=True, text=True)
        return done.returncode, done.stdout, done.stderr

    def args_of(self, program):
        with open(os.path.join(self.dir, program + ".args")) as f:
            return f.read().splitlines()

    def test_the_controllers_states_tell_running_success_and_failed(self):
        for state, verdict in [("PENDING", "running"), ("CONFIGURING", "running"), ("RUNNING", "running"),
                               ("SUSPENDED", "running"), ("COMPLETING", "running"), ("REQUEUED", "running"),
                               ("COMPLETED", "success"), ("FAILED", "failed"), ("CANCELLED", "failed"),
                               ("TIMEOUT", "failed"), ("OUT_OF_MEMORY", "failed"), ("NODE_FAIL", "failed"),
                               ("BOOT_FAIL", "failed"), ("DEADLINE", "failed"), ("PREEMPTED", "failed")]:
            self.job_state(state)
            self.assertEqual(self.status("4711"), (0, verdict + "\n", ""), state)
        self.assertEqual(self.args_of("scontrol")[0], "-o show job 4711")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "sacct.args")))

    def test_the_cluster_name_after_the_id_is_ignored(self):
        self.job_state("RUNNING")
        self.assertEqual(self.status("4711;cluster1"), (0, "running\n", ""))
        self.assertEqual(self.args_of("scontrol"), ["-o show job 4711"])

    def test_a_job_the_controller_forgot_is_asked_of_the_accounting(self):
        self.answer("scontrol", *UNKNOWN)
        for state, verdict in [("COMPLETED", "success"), ("CANCELLED by 0", "failed"), ("TIMEOUT", "failed"),
                               ("RUNNING", "running")]:
            self.answer("sacct", state + "\n")
            self.assertEqual(self.status("4711"), (0, verdict + "\n", ""), state)
        self.assertEqual(self.args_of("sacct")[0], "-n -X -P -o State -j 4711")

    def test_without_accounting_a_forgotten_job_is_judged_by_the_exit_status_it_wrote(self):
        self.answer("scontrol", *UNKNOWN)
        written = self.exit_file("4711", "0\n")
        self.assertEqual(self.status("4711"), (0, "success\n", ""))
        # Told once: the file goes.
        self.assertFalse(os.path.exists(written))
        self.exit_file("4712", "1\n")
        self.assertEqual(self.status("4712"), (0, "failed\n", ""))

    def test_without_accounting_a_forgotten_job_that_wrote_nothing_failed(self):
        # Killed before its last line: cancelled, over its limits, its node lost.
        self.answer("scontrol", *UNKNOWN)
        self.exit_file("4712", "0\n")
        self.assertEqual(self.status("4711"), (0, "failed\n", ""))

    def test_the_exit_file_is_not_asked_while_the_controller_knows_the_job(self):
        self.job_state("RUNNING")
        written = self.exit_file("4711", "0\n")
        self.assertEqual(self.status("4711"), (0, "running\n", ""))
        self.assertTrue(os.path.exists(written))
        self.job_state("CANCELLED")
        self.assertEqual(self.status("4711"), (0, "failed\n", ""))
        self.assertFalse(os.path.exists(written))

    def test_a_controller_that_does_not_answer_leaves_the_job_running(self):
        self.answer("scontrol", "slurm_load_jobs error: Unable to contact slurm controller (connect failure)\n", 1)
        code, out, err = self.status("4711")
        self.assertEqual((code, out), (0, "running\n"))
        self.assertEqual(err, "status.py: no answer about job 4711 (slurm_load_jobs error: Unable to contact slurm "
                              "controller (connect failure)); asking again later\n")

    def test_scontrol_failing_otherwise_is_an_error_not_a_job_that_runs_for_ever(self):
        self.answer("scontrol", "scontrol: error: s_p_parse_file: unable to read \"/etc/slurm/slurm.conf\"\n", 1)
        code, out, err = self.status("4711")
        self.assertEqual((code, out), (1, ""))
        self.assertEqual(err, "status.py: scontrol -o show job 4711 failed: scontrol: error: s_p_parse_file: unable "
                              "to read \"/etc/slurm/slurm.conf\"\n")
        self.answer("scontrol", "JobId=4711 JobName=x\n")
        code, out, err = self.status("4711")
        self.assertEqual((code, out), (1, ""))
        self.assertIn("printed no JobState", err)

    def test_no_job_id_is_a_usage_error(self):
        code, out, err = self.status()
        self.assertEqual((code, out), (2, ""))
        self.assertIn("Usage: status.py JOBID", err)


if __name__ == "__main__":
    STATUS = os.path.join(os.path.abspath(sys.argv.pop(1)), "profiles", "slurm", "status.py")
    unittest.main()
