"""Writes a small preprocessed-looking run for the compare tests into a folder:
run.nii.gz (float32, 8x8x3 voxels, TR 2 s), mask.nii.gz (the inner 6x6x3
voxels), confounds.tsv (a pipeline-style table in raw scanner units: csf,
white_matter and global_signal in the thousands, their derivatives with "n/a"
in the first row and squares near 1e8, six motion parameters and their
expansions, cosine drifts, and two identical columns spare_a and spare_b) and
confounds_z.tsv (the same table with every column z-scored). Each brain
voxel's course is its mean plus parts of the confounds (around their own
means) plus noise; the background is dim.

usage: make_compare_run.py FOLDER [VOLUMES]"""
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
zscored = {}
for name, values in columns.items():
    defined = values[~np.isnan(values)]
    zscored[name] = (values - defined.mean()) / defined.std()
write_table(folder + "/confounds_z.tsv", zscored)

nx, ny, nz = 8, 8, 3
data = np.zeros((nx, ny, nz, n))
mask = np.zeros((nx, ny, nz), dtype=np.uint8)
for x in range(nx):
    for y in range(ny):
        for z in range(nz):
            if 0 < x < nx - 1 and 0 < y < ny - 1:
                mask[x, y, z] = 1
                course = rng.uniform(600, 1200) + rng.normal(0, 5, n)
                for values in signals.values():
                    course += rng.uniform(-0.8, 0.8) * (values - values.mean())
                for name, values in motion.items():
                    scale = 60.0 if name.startswith("trans") else 3000.0
                    course += rng.uniform(-1, 1) * scale * (values - values.mean())
                data[x, y, z] = course
            else:
                data[x, y, z] = 10 + rng.normal(0, 1, n)

affine = np.diag([3.0, 3.0, 3.0, 1.0])
run = nibabel.Nifti1Image(data.astype(np.float32), affine)
run.header.set_xyzt_units("mm", "sec")
run.header["pixdim"][4] = 2.0
nibabel.save(run, folder + "/run.nii.gz")
nibabel.save(nibabel.Nifti1Image(mask, affine), folder + "/mask.nii.gz")
