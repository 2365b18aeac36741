#!/usr/bin/python3
"""The voxel statistics of a comparison run in numpy, over all voxels at once
with float32 matrix products: the peer the benchmark measures against.

Usage: peer_numpy.py DIMX DIMY DIMZ N THRESHOLD MODELFILE [REPEATS]
MODELFILE holds n, p1, p2 and per model X, P and the selector, column-major
float32, as the benchmark writes it. The time courses are generated here with
the benchmark's formulas. Prints "seconds masked_voxels blas_threads".
BLAS threads follow OPENBLAS_NUM_THREADS, as set by the caller.
"""
import sys
import time

import numpy as np


def mix(x):
    x = x * np.uint32(0x9E3779B1)
    x ^= x >> np.uint32(16)
    x *= np.uint32(0x85EBCA6B)
    x ^= x >> np.uint32(13)
    x *= np.uint32(0xC2B2AE35)
    x ^= x >> np.uint32(16)
    return x


def time_courses(dx, dy, dz, n):
    z, y, x = np.meshgrid(np.arange(dz), np.arange(dy), np.arange(dx), indexing="ij")
    r2 = ((x + 0.5) / dx - 0.5) ** 2 + ((y + 0.5) / dy - 0.5) ** 2 + ((z + 0.5) / dz - 0.5) ** 2
    base = np.where(r2.ravel() <= 0.25, np.float32(1000.0), np.float32(20.0)).astype(np.float32)
    count = base.size
    data = np.empty((n, count), dtype=np.float32)
    index = np.arange(count, dtype=np.uint32)
    for v in range(n):
        u = (mix(index + np.uint32(v * count)) >> np.uint32(8)).astype(np.float32)
        noise = u * np.float32(1.0 / 16777216.0) - np.float32(0.5)
        data[v] = base + np.float32(40.0) * noise
    return data


def read_models(path):
    raw = open(path, "rb").read()
    n, p1, p2 = np.frombuffer(raw, dtype=np.int32, count=3)
    offset = 12
    models = []
    for p in (p1, p2):
        def take(count, shape):
            nonlocal offset
            a = np.frombuffer(raw, dtype=np.float32, count=count, offset=offset)
            offset += 4 * count
            return a.reshape(shape, order="F")
        X = np.ascontiguousarray(take(n * p, (n, p)))
        P = np.ascontiguousarray(take(p * n, (p, n)))
        sel = take(p, (p,)).copy()
        models.append((X, P, sel))
    return int(n), models


def statistics(Y, models, threshold):
    n = Y.shape[0]
    nf = np.float32(n)
    mask = Y.min(axis=0) > threshold
    Ym = Y[:, mask]
    sst = ((Ym - Ym.mean(axis=0)) ** 2).sum(axis=0)
    out = []
    for X, P, sel in models:
        p = np.float32(X.shape[1])
        B = P @ Ym
        fit = X @ B
        cleaned = Ym - X @ (B * sel[:, None])
        sse = ((Ym - fit) ** 2).sum(axis=0)
        mean = cleaned.mean(axis=0)
        ss = ((cleaned - mean) ** 2).sum(axis=0)
        sd = np.where(ss > np.float32(1e-4), np.sqrt(ss / np.float32(n - 1)), np.float32(0.0))
        with np.errstate(divide="ignore", invalid="ignore"):
            tsnr = mean / sd
        adjustment = (nf - 1) / ((nf - p) - 1)
        r2adj = 1 - (1 - (1 - sse / sst)) * adjustment
        out.append((sse, p, tsnr, r2adj, cleaned))
    (sse1, p1, *_), (sse2, p2, *_) = out
    F = ((sse1 - sse2) / (p2 - p1)) / (sse2 / (nf - p2)) if p1 != p2 else None
    return int(mask.sum()), out, F


def blas_threads():
    try:
        from threadpoolctl import threadpool_info
        return max(i["num_threads"] for i in threadpool_info())
    except Exception:
        import os
        return os.environ.get("OPENBLAS_NUM_THREADS", "default")


def main():
    dx, dy, dz, n = (int(a) for a in sys.argv[1:5])
    threshold = np.float32(sys.argv[5])
    n_file, models = read_models(sys.argv[6])
    repeats = int(sys.argv[7]) if len(sys.argv) > 7 else 3
    assert n_file == n
    Y = time_courses(dx, dy, dz, n)
    best = best_cpu = float("inf")
    masked = 0
    for _ in range(repeats):
        start, start_cpu = time.perf_counter(), time.process_time()
        masked, _, _ = statistics(Y, models, threshold)
        best = min(best, time.perf_counter() - start)
        best_cpu = min(best_cpu, time.process_time() - start_cpu)
    print(f"{best:.6f} {best_cpu:.6f} {masked} {blas_threads()}")


if __name__ == "__main__":
    main()
