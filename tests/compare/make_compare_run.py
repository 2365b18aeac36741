"""Writes a small preprocessed-looking run for the compare tests into a folder:
run.nii.gz (float32, 8x8x3 voxels unless given, TR 2 s), mask.nii.gz (all but the
outer ring of x and y), confounds.tsv (a pipeline-style table in raw units: csf,
white_matter and global_signal in the thousands, their derivatives with "n/a"
in the first row and squares near 1e8, six motion parameters and their
expansions, cosine drifts, and two identical columns spare_a and spare_b),
confounds_z.tsv (the same table with every column z-scored) and
confounds_copy.tsv (the table with rot_x_deg and unrelated added). Each brain
voxel's course is its mean plus parts of the confounds (around their own
means) plus noise; the background is dim.

usage: make_compare_run.py FOLDER [VOLUMES [NX NY NZ]]"""
import math
import sys

import nibabel
import numpy as np

folder = sys.argv[1]
n = int(sys.argv[2]) if len(sys.argv) > 2 else 100
rng = np.random.default_rng(20261208)
t = np.arange(n)

signals = {
    "csf": 7000 + 40 * np.sin(2 * math.pi * t / 17) + rng.normal(0, 10, n),
    "white_matter": 9000 + 25 * np.cos(2 * math.pi * t / 23) + rng.normal(0, 8, n),
    "global_signal": 10000 + 30 * np.sin(2 * math.pi * t / 11 + 0.3) + rng.normal(0, 8, n),
}
motion = {}
for name, step in [("trans_x", 0.02), ("trans_y", 0.02), ("trans_z", 0.03), ("rot_x", 4e-4), ("rot_y", 4e-4),
                   ("rot_z", 3e-4)]:
    motion[name] = np.cumsum(rng.normal(0, step, n))

columns = {}
for name, values in list(signals.items()) + list(motion.items()):
    derivative = np.concatenate([[np.nan], np.diff(values)])
    columns[name] = values
    columns[name + "_derivative1"] = derivative
    columns[name + "_power2"] = values ** 2
    columns[name + "_derivative1_power2"] = derivative ** 2
for k in range(1, 4):
    columns["cosine%02d" % (k - 1)] = math.sqrt(2.0 / n) * np.cos(math.pi * (2 * t + 1) * k / (2 * n))
spare = rng.normal(0, 1, n)
columns["spare_a"] = spare
columns["spare_b"] = spare.copy()


def write_table(path, table):
    names = list(table)
    with open(path, "w") as out:
        out.write("\t".join(names) + "\n")
        for row in range(n):
            fields = []
            for name in names:
                value = table[name][row]
                fields.append("n/a" if np.isnan(value) else repr(float(value)))
            out.write("\t".join(fields) + "\n")


write_table(folder + "/confounds.tsv", columns)
# confounds_copy.tsv: the same table and two more columns, rot_x_deg (rot_x in
# degrees, to 6 significant digits, as some pipelines add) and unrelated (noise
# the voxels do not hold), from a generator of their own so the run stays the same.
extra = np.random.default_rng(20261209)
copy = dict(columns)
copy["rot_x_deg"] = np.array([float("%.6g" % v) for v in np.degrees(columns["rot_x"])])
copy["unrelated"] = extra.normal(0, 1, n)
write_table(folder + "/confounds_copy.tsv", copy)
zscored = {}
for name, values in columns.items():
    defined = values[~np.isnan(values)]
    zscored[name] = (values - defined.mean()) / defined.std()
write_table(folder + "/confounds_z.tsv", zscored)

nx, ny, nz = (int(v) for v in sys.argv[3:6]) if len(sys.argv) > 5 else (8, 8, 3)
mask = np.zeros((nx, ny, nz), dtype=np.uint8)
mask[1:nx - 1, 1:ny - 1, :] = 1
brain = int(mask.sum())
courses = rng.uniform(600, 1200, (brain, 1)) + rng.normal(0, 5, (brain, n))
for values in signals.values():
    courses += rng.uniform(-0.8, 0.8, (brain, 1)) * (values - values.mean())
for name, values in motion.items():
    scale = 60.0 if name.startswith("trans") else 3000.0
    courses += rng.uniform(-1, 1, (brain, 1)) * scale * (values - values.mean())
data = 10 + rng.normal(0, 1, (nx, ny, nz, n))
data[mask != 0] = courses
affine = np.diag([3.0, 3.0, 3.0, 1.0])
run = nibabel.Nifti1Image(data.astype(np.float32), affine)
run.header.set_xyzt_units("mm", "sec")
run.header["pixdim"][4] = 2.0
nibabel.save(run, folder + "/run.nii.gz")
nibabel.save(nibabel.Nifti1Image(mask, affine), folder + "/mask.nii.gz")
