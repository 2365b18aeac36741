#!/usr/bin/python3
"""The NIfTI benchmark: the whole-brain-sized job (64 x 64 x 36 voxels, 300
volumes, float32 .nii.gz written by nibabel; models of 11 and 34 predictors;
all seven maps and both cleaned runs) run by Corvantis and by the nibabel +
numpy peer (peer_nibabel.py), one after the other on the same inputs, with the
maps-only case and the uncompressed (.nii) case. Prints wall time per phase and
their ratio, peak resident memory, and the processor time Corvantis spent per
megabyte of NIfTI data read and written. With --realistic it then does the
whole job and the maps-only job on a run of today's pipelines' 2 mm template
grid (97 x 115 x 97 voxels, 300 volumes: 1.3 GB as float32), which takes
minutes and several GB of memory for the peer.

Usage: nifti_bench.py BIN WORK [--realistic]   (BIN holds Corvantis; WORK is made or reused)
"""
import os
import re
import shutil
import subprocess
import sys
import time

import nibabel as nib
import numpy as np

from peer_numpy import mix, time_courses

WHOLE_BRAIN = (64, 64, 36)
TEMPLATE_2MM = (97, 115, 97)
VOLUMES = 300
HERE = os.path.dirname(os.path.abspath(__file__))


def noise(index):
    return (mix(np.asarray(index, dtype=np.uint32)) >> np.uint32(8)).astype(np.float64) / 16777216.0 - 0.5


def regressors(n):
    """Four boxcars of interest, six motion walks with their derivatives,
    squares and squared derivatives, and five polynomial drifts."""
    columns = {}
    v = np.arange(n)
    for period in (20, 30, 40, 50):
        columns[f"box{period}"] = ((v // (period // 2)) % 2).astype(np.float64)
    for k in range(6):
        walk = np.zeros(n)
        x = 0.0
        for t in range(n):
            x = 0.95 * x + float(noise(0x51ED0000 + k * 100000 + t))
            walk[t] = x
        d = np.concatenate(([0.0], np.diff(walk)))
        columns[f"m{k}"], columns[f"d{k}"] = walk, d
        columns[f"mm{k}"], columns[f"dd{k}"] = walk * walk, d * d
    for k in range(1, 6):
        columns[f"drift{k}"] = (2.0 * v / (n - 1) - 1.0) ** k
    return columns


def make_inputs(corvantis, work, dims, plain):
    """The run as .nii.gz (and .nii when plain), the table and both designs."""
    if os.path.exists(os.path.join(work, "m2.sdm")):
        return
    os.makedirs(work, exist_ok=True)
    dx, dy, dz = dims
    Y = time_courses(dx, dy, dz, VOLUMES)  # volume-major, x fastest
    data = Y.T.reshape(dims + (VOLUMES,), order="F")
    img = nib.Nifti1Image(data, np.diag([3.0, 3.0, 3.5, 1.0]))
    img.header.set_xyzt_units("mm", "sec")
    img.header.set_zooms((3.0, 3.0, 3.5, 2.0))
    nib.save(img, os.path.join(work, "run.nii.gz"))  # nibabel's default compression
    # The designs are made from a .nii of the run's length; for the large run only its header's worth.
    design_run = os.path.join(work, "run.nii")
    if plain:
        nib.save(img, design_run)
    else:
        small = nib.Nifti1Image(np.zeros((2, 2, 2, VOLUMES), dtype=np.float32), img.affine, img.header)
        nib.save(small, design_run)
    del img, data, Y
    columns = regressors(VOLUMES)
    with open(os.path.join(work, "regressors.tsv"), "w") as table:
        table.write("\t".join(columns) + "\n")
        for t in range(VOLUMES):
            table.write("\t".join(f"{columns[c][t]:.9g}" for c in columns) + "\n")
    motion = [f"m{k}" for k in range(6)]
    full = [f"{kind}{k}" for kind in ("m", "d", "mm", "dd") for k in range(6)] + [f"drift{k}" for k in range(1, 6)]
    for name, confounds in (("m1.sdm", motion), ("m2.sdm", full)):
        subprocess.run([corvantis, "make-sdm", "--table", os.path.join(work, "regressors.tsv"), "--fmr",
                        design_run, "--interest", "box20,box30,box40,box50", "--confounds",
                        ",".join(confounds), "--output", os.path.join(work, name)], check=True,
                       stdout=subprocess.DEVNULL)


def measured(args, cwd):
    """Wall seconds, peak resident MB, stdout and stderr of one program."""
    out_path, err_path = os.path.join(cwd, ".stdout"), os.path.join(cwd, ".stderr")
    with open(out_path, "w") as out, open(err_path, "w") as err:
        start = time.perf_counter()
        child = subprocess.Popen(args, cwd=cwd, stdout=out, stderr=err)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    output, errors = open(out_path).read(), open(err_path).read()
    if status != 0:
        sys.exit(f"{args[0]} failed ({status}):\n{errors}")
    return wall, usage.ru_maxrss / 1024.0, output, errors


def fresh(folder, run, work):
    """A folder holding the run and the designs: the maps are saved beside the designs."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in (run, "m1.sdm", "m2.sdm"):
        os.link(os.path.join(work, name), os.path.join(folder, name))
    return folder


def corvantis_case(corvantis, work, run, residuals, threads):
    folder = fresh(os.path.join(work, "corvantis-" + run + ("" if residuals else "-maps")), run, work)
    args = [corvantis, "--fmr", run, "--set", "sdmfile1=m1.sdm", "--set", "sdmfile2=m2.sdm", "--set", f"residuals1={int(residuals)}", "--set",
            f"residuals2={int(residuals)}", "--threads", str(threads), "--timing"]
    if not run.endswith(".gz"):
        args.append("--no-gzip")
    wall, rss, _, errors = measured(args + ["start"], folder)
    t = re.search(r"time: read ([\d.]+) s, compare ([\d.]+) s, write ([\d.]+) s; processor time: "
                  r"read ([\d.]+) s, compare ([\d.]+) s, write ([\d.]+) s", errors)
    outputs = [f for f in os.listdir(folder) if f.startswith(("m1_", "m2_", "run_min"))]
    expected = 9 if residuals else 7
    if len(outputs) != expected or any(not f.endswith(".nii.gz" if run.endswith(".gz") else ".nii") for f in outputs):
        sys.exit(f"Corvantis wrote {sorted(outputs)}, not {expected} NIfTI files")
    phases = dict(zip(("read", "compare", "write", "cpu_read", "cpu_compare", "cpu_write"), map(float, t.groups())))
    phases["total"] = wall
    return phases, rss


def peer_case(work, run, residuals):
    folder = fresh(os.path.join(work, "peer-" + run + ("" if residuals else "-maps")), run, work)
    ext = ".nii.gz" if run.endswith(".gz") else ".nii"
    args = ["/usr/bin/python3", os.path.join(HERE, "peer_nibabel.py"), run, "m1.sdm", "m2.sdm", ".", ext] + ([] if residuals else ["maps"])
    wall, rss, output, _ = measured(args, folder)
    words = output.split()
    phases = {words[i]: float(words[i + 1]) for i in range(0, 6, 2)}
    phases["total"] = wall
    return phases, rss


def job(corvantis, work, dims, threads, full):
    """The cases on a run of those extents; full adds the .nii case and the rates."""
    with np.errstate(over="ignore"):  # the hash wraps, as meant
        make_inputs(corvantis, work, dims, full)
    voxels = dims[0] * dims[1] * dims[2]
    run_mb = voxels * VOLUMES * 4 / 1e6
    print(f"NIfTI job: {dims[0]}x{dims[1]}x{dims[2]} voxels, {VOLUMES} volumes (float32 {run_mb:.0f} MB), "
          f"models of 11 and 34 predictors; Corvantis --threads {threads}, one run each")
    print(f"{'case':<26}{'phase':<9}{'Corvantis':>11}{'peer':>10}{'peer/Corvantis':>16}")
    cases = [("whole job, .nii.gz", "run.nii.gz", True), ("maps only, .nii.gz", "run.nii.gz", False)]
    if full:
        cases.append(("whole job, .nii", "run.nii", True))
    memory = {}
    for label, run, residuals in cases:
        ours, our_rss = corvantis_case(corvantis, work, run, residuals, threads)
        theirs, their_rss = peer_case(work, run, residuals)
        memory[label] = (our_rss, their_rss)
        for i, phase in enumerate(("read", "compare", "write", "total")):
            # nibabel maps a .nii and reads it when the values are first used, in its compare.
            ratio = f"{theirs[phase] / ours[phase]:.1f}x" if theirs[phase] >= 0.05 and ours[phase] > 0 else "-"
            print(f"{label if i == 0 else '':<26}{phase:<9}{ours[phase]:>9.2f} s{theirs[phase]:>8.2f} s{ratio:>16}")
        if label == "whole job, .nii.gz":
            written_mb = (7 * (352 + voxels * 4) + 2 * (352 + voxels * VOLUMES * 4)) / 1e6
            gzip_rates = ((352 + voxels * VOLUMES * 4) / 1e6 / ours["cpu_read"], written_mb / ours["cpu_write"])
    if full:
        print("(the peer's .nii read is lazy: nibabel maps the file and reads it during its compare)")
    print("peak resident memory (MB):")
    for label, (ours, theirs) in memory.items():
        print(f"  {label:<24}Corvantis {ours:7.0f} ({ours / run_mb:.2f}x the run's float32)   peer {theirs:7.0f}")
    if not full:
        return
    print(f".nii.gz per core (uncompressed MB per processor second, whole job): read {gzip_rates[0]:.0f} MB/s, "
          f"write {gzip_rates[1]:.0f} MB/s")
    # A cleaned run Corvantis wrote is in gzip members that say their length: inflated on every thread.
    folder = os.path.join(work, "corvantis-run.nii.gz")
    ours = os.path.join(folder, "run_min_confounds_of_m1.nii.gz")
    reads = []
    for count in sorted({1, threads}):
        _, _, _, errors = measured([corvantis, "--fmr", ours, "--threads", str(count), "--timing"], folder)
        t = re.search(r"time: read ([\d.]+) s.*processor time: read ([\d.]+) s", errors)
        reads.append(f"{count} thread{'s' if count > 1 else ''} {float(t.group(1)):.2f} s "
                     f"({run_mb / float(t.group(2)):.0f} MB/s per core)")
    print("reading a run Corvantis wrote (.nii.gz in gzip members): " + ", ".join(reads))


def main():
    corvantis, work = os.path.abspath(os.path.join(sys.argv[1], "Corvantis")), os.path.abspath(sys.argv[2])
    threads = os.cpu_count() or 1
    job(corvantis, work, WHOLE_BRAIN, threads, True)
    if "--realistic" in sys.argv[3:]:
        print()
        job(corvantis, os.path.join(work, "template-2mm"), TEMPLATE_2MM, threads, False)


if __name__ == "__main__":
    main()
