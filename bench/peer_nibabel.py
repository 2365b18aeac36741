#!/usr/bin/python3
"""The whole NIfTI job as a short numpy script: the peer bench/nifti_bench.py
measures Corvantis against. It loads the run with nibabel, computes the seven
maps and both models' confound-cleaned runs with float32 matrix products over
all voxels at once (peer_numpy.statistics), and saves them with nibabel's own
default compression.

Usage: peer_nibabel.py RUN M1.SDM M2.SDM OUTDIR EXT [maps]
EXT is .nii.gz or .nii; "maps" leaves the cleaned runs out. Prints one line:
"read SECONDS compare SECONDS write SECONDS".
"""
import os
import sys
import time

import nibabel as nib
import numpy as np

from peer_numpy import statistics


def read_sdm(path):
    """X (n x p, float32) and the confound selector of an .sdm design."""
    lines = open(path).read().splitlines()
    keys = dict(l.split(":", 1) for l in lines if ":" in l and not l.startswith('"'))
    p = int(keys["NrOfPredictors"])
    first_confound = int(keys["FirstConfoundPredictor"])
    names = next(i for i, l in enumerate(lines) if l.startswith('"'))
    X = np.array([[float(v) for v in l.split()] for l in lines[names + 1:] if l.strip()], dtype=np.float32)
    assert X.shape[1] == p
    sel = np.zeros(p, dtype=np.float32)
    sel[first_confound - 1:p - 1] = 1.0
    return X, sel


def model(path):
    X, sel = read_sdm(path)
    P = np.linalg.pinv(X.astype(np.float64)).astype(np.float32)
    return X, P, sel


def volume_image(values, mask, shape, affine):
    full = np.zeros(mask.size, dtype=np.float32)
    full[mask] = values
    return nib.Nifti1Image(full.reshape(shape, order="F"), affine)


def main():
    run, sdm1, sdm2, outdir, ext = sys.argv[1:6]
    maps_only = len(sys.argv) > 6 and sys.argv[6] == "maps"
    models = [model(sdm1), model(sdm2)]

    start = time.perf_counter()
    img = nib.load(run)
    data = np.asarray(img.dataobj, dtype=np.float32)
    read = time.perf_counter() - start

    start = time.perf_counter()
    shape3 = data.shape[:3]
    n = data.shape[3]
    Y = data.reshape((-1, n), order="F").T  # volume-major, a view
    mask = Y.min(axis=0) > np.float32(100.0)
    _, out, F = statistics(Y, models, np.float32(100.0))
    (_, _, tsnr1, r2adj1, cleaned1), (_, _, tsnr2, r2adj2, cleaned2) = out
    maps = {
        "m1_tSNR_residuals": tsnr1,
        "m2_tSNR_residuals": tsnr2,
        "m2_tSNR_diff_m1": tsnr2 - tsnr1,
        "m1_R2adj": r2adj1,
        "m2_R2adj": r2adj2,
        "m2_R2adj_diff_m1": r2adj2 - r2adj1,
        "m2_Fval_diff_m1": F,
    }
    compare = time.perf_counter() - start

    start = time.perf_counter()
    for name, values in maps.items():
        nib.save(volume_image(values, mask, shape3, img.affine), os.path.join(outdir, name + ext))
    if not maps_only:
        for name, cleaned in (("run_min_confounds_of_m1", cleaned1), ("run_min_confounds_of_m2", cleaned2)):
            full = Y.copy()
            full[:, mask] = cleaned
            cleaned_img = nib.Nifti1Image(full.T.reshape(data.shape, order="F"), img.affine, img.header)
            nib.save(cleaned_img, os.path.join(outdir, name + ext))
    write = time.perf_counter() - start
    print(f"read {read:.6f} compare {compare:.6f} write {write:.6f}")


if __name__ == "__main__":
    main()
