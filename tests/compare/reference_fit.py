"""An independent float64 reference for a compare output folder, printing one
"name value" line per measure for the C++ test to judge.

  reference_fit.py fit OUT RUN MASK
      fits both designs of OUT (read back from the .sdm files) to every voxel
      inside MASK with statsmodels' OLS and prints the largest deviations of
      the maps: tsnr_rel (tSNR, relative), r2adj_abs (adjusted R squared,
      absolute), f_rel (F, relative), p_rel (-log10 p against scipy's F
      distribution at the F map's values and the summary's df, relative),
      p_ref_abs (-log10 p against scipy at the reference's own F on the
      designs' ranks, absolute).
  reference_fit.py table OUT RUN MASK TABLE COLUMNS1 COLUMNS2
      fits the two models named by comma-separated columns of TABLE (and a
      constant) to every voxel inside MASK with statsmodels' OLS, tests them
      with its nested F test and prints: df_num and df_denom, p_abs (the
      largest absolute deviation of compare's -log10 p from the reference's
      where that is below 10), p_worst_voxels (voxels deviating by over 1e-3
      there), p_max (the reference's largest -log10 p), f_abs (the largest
      absolute deviation of compare's F from the reference's), f_min (compare's
      smallest F) and neglog10p_min (compare's smallest -log10 p).
  reference_fit.py means OUT RUN MASK
      prints mean_rel: the largest relative difference, over the voxels inside
      MASK, between each cleaned run's temporal mean and the run's."""
import glob
import json
import sys

import nibabel
import numpy as np
import statsmodels.api as sm
from scipy.stats import f as f_distribution


def read_sdm(path):
    lines = open(path).read().splitlines()
    header = {}
    for line in lines:
        if ":" in line and not line.startswith('"'):
            key, value = line.split(":", 1)
            header[key.strip()] = value.strip()
    names_at = next(i for i, line in enumerate(lines) if line.startswith('"'))
    rows = [list(map(float, line.split())) for line in lines[names_at + 1:] if line.strip()]
    design = np.array(rows, dtype=np.float64)
    assert design.shape == (int(header["NrOfDataPoints"]), int(header["NrOfPredictors"])), design.shape
    return design, int(header["FirstConfoundPredictor"])


def image(out, name):
    return np.asarray(nibabel.load(out + "/" + name).dataobj, dtype=np.float64)


def fit(design, first, y):
    result = sm.OLS(y, design).fit()
    p = design.shape[1]
    confounds = slice(first - 1, p - 1)
    cleaned = y - design[:, confounds] @ result.params[confounds]
    n = len(y)
    r2 = 1 - result.ssr / np.sum((y - y.mean()) ** 2)
    return result.ssr, cleaned.mean() / cleaned.std(ddof=1), 1 - (1 - r2) * (n - 1) / (n - p - 1)


def read_table(path):
    lines = open(path).read().splitlines()
    names = lines[0].split("\t")
    rows = [[np.nan if v == "n/a" else float(v) for v in line.split("\t")] for line in lines[1:] if line]
    return {name: np.array(values) for name, values in zip(names, zip(*rows))}


def table_test(out, run, inside, summary, table_path, columns1, columns2):
    table = read_table(table_path)
    n = run.shape[3]
    designs = [np.column_stack([table[c] for c in columns.split(",")] + [np.ones(n)]) for columns in (columns1,
                                                                                                       columns2)]
    maps = {key: image(out, entry["file"]) for key, entry in summary["maps"].items()}
    worst, deviating, largest, f_worst = 0.0, 0, 0.0, 0.0
    df_num = df_denom = None
    for index in zip(*np.nonzero(inside)):
        y = run[index]
        small, full = (sm.OLS(y, d).fit() for d in designs)
        f, p, df_num = full.compare_f_test(small)
        df_denom = full.df_resid
        expected = -np.log10(p)
        largest = max(largest, expected)
        f_worst = max(f_worst, abs(maps["f"][index] - f))
        if expected < 10:
            deviation = abs(maps["neglog10p"][index] - expected)
            worst = max(worst, deviation)
            deviating += deviation > 1e-3
    print("df_num", repr(float(df_num)))
    print("df_denom", repr(float(df_denom)))
    print("p_abs", repr(float(worst)))
    print("p_worst_voxels", deviating)
    print("p_max", repr(float(largest)))
    print("f_abs", repr(float(f_worst)))
    print("f_min", repr(float(maps["f"][inside].min())))
    print("neglog10p_min", repr(float(maps["neglog10p"][inside].min())))


def main():
    mode, out, run_path, mask_path = sys.argv[1:5]
    (summary_path,) = glob.glob(out + "/*_summary.json")
    summary = json.load(open(summary_path))
    run = np.asarray(nibabel.load(run_path).dataobj, dtype=np.float32).astype(np.float64)
    inside = np.asarray(nibabel.load(mask_path).dataobj) != 0
    if mode == "table":
        table_test(out, run, inside, summary, *sys.argv[5:8])
        return
    if mode == "means":
        worst = 0.0
        for name in summary["outputs"]:
            if "_min_confounds_of_" in name:
                cleaned = image(out, name)
                ratio = np.abs(cleaned.mean(axis=3) - run.mean(axis=3)) / np.abs(run.mean(axis=3))
                worst = max(worst, float(ratio[inside].max()))
        print("mean_rel", repr(worst))
        return
    designs = [read_sdm(out + "/" + summary[m]["design"]) for m in ("model1", "model2")]
    maps = {key: image(out, entry["file"]) for key, entry in summary["maps"].items()}
    n = run.shape[3]
    p1, p2 = designs[0][0].shape[1], designs[1][0].shape[1]
    df1, df2 = summary["f_df"]
    ranks = [np.linalg.matrix_rank(d) for d, _ in designs]
    worst = {"tsnr_rel": 0.0, "r2adj_abs": 0.0, "f_rel": 0.0, "p_rel": 0.0, "p_ref_abs": 0.0}
    for index in zip(*np.nonzero(inside)):
        y = run[index]
        (sse1, tsnr1, r2adj1), (sse2, tsnr2, r2adj2) = (fit(d, first, y) for d, first in designs)
        f = ((sse1 - sse2) / (p2 - p1)) / (sse2 / (n - p2))
        for key, value in (("tsnr1", tsnr1), ("tsnr2", tsnr2)):
            worst["tsnr_rel"] = max(worst["tsnr_rel"], abs(maps[key][index] - value) / abs(value))
        for key, value in (("r2adj1", r2adj1), ("r2adj2", r2adj2)):
            worst["r2adj_abs"] = max(worst["r2adj_abs"], abs(maps[key][index] - value))
        worst["f_rel"] = max(worst["f_rel"], abs(maps["f"][index] - f) / abs(f))
        expected = -np.log10(f_distribution.sf(np.float32(maps["f"][index]), df1, df2))
        worst["p_rel"] = max(worst["p_rel"], abs(maps["neglog10p"][index] - expected) / max(abs(expected), 1e-3))
        ranked = ((sse1 - sse2) / (ranks[1] - ranks[0])) / (sse2 / (n - ranks[1]))
        expected = -np.log10(f_distribution.sf(ranked, ranks[1] - ranks[0], n - ranks[1]))
        worst["p_ref_abs"] = max(worst["p_ref_abs"], abs(maps["neglog10p"][index] - expected))
    for key, value in worst.items():
        print(key, repr(float(value)))


main()
