#!/usr/bin/python3
# Writes the pipeline-style confounds table, its JSON sidecar and an events
# table the design tests read: 80 volumes, signals in scanner units, derived
# columns as pipelines write them (first row "n/a"), CompCor components of three
# masks with their variance explained. Deterministic; run from this folder.
import json
import math
import random

random.seed(17)
n = 80
columns = {}


def walk(scale, start=0.0):
    x, values = start, []
    for _ in range(n):
        x += random.gauss(0.0, scale)
        values.append(round(x, 6))
    return values


def expand(name, base):
    d = [None] + [base[t] - base[t - 1] for t in range(1, n)]
    columns[name] = base
    columns[name + "_derivative1"] = d
    columns[name + "_power2"] = [v * v for v in base]
    columns[name + "_derivative1_power2"] = [None if v is None else v * v for v in d]


expand("global_signal", [round(850.0 + 6.0 * math.sin(t / 7.0) + random.gauss(0, 2), 4) for t in range(n)])
expand("csf", [round(9200.0 + 40.0 * math.cos(t / 5.0) + random.gauss(0, 15), 4) for t in range(n)])
expand("white_matter", [round(1480.0 + 3.0 * math.sin(t / 3.0) + random.gauss(0, 1), 4) for t in range(n)])
columns["csf_wm"] = [round(a + b, 4) for a, b in zip(columns["csf"], columns["white_matter"])]
columns["tcompcor"] = [round(random.gauss(700, 5), 4) for _ in range(n)]

fd = [None] + [round(abs(random.gauss(0.12, 0.05)), 6) for _ in range(n - 1)]
for t, v in {9: 0.81, 10: 0.64, 14: 0.52, 17: 0.9, 40: 0.5}.items():
    fd[t] = v  # 40 is at the threshold, not above it
dvars = [None] + [round(abs(random.gauss(1.0, 0.15)), 6) for _ in range(n - 1)]
dvars[30] = 1.8
dvars[50] = 1.5  # at the threshold
columns["std_dvars"] = dvars
columns["dvars"] = [None if v is None else round(v * 21.5, 4) for v in dvars]
columns["framewise_displacement"] = fd
columns["rmsd"] = [None] + [round(abs(random.gauss(0.05, 0.02)), 6) for _ in range(n - 1)]

for k in range(3):
    columns["t_comp_cor_%02d" % k] = [round(random.gauss(0, 0.11), 6) for _ in range(n)]
for k in range(11):
    columns["a_comp_cor_%02d" % k] = [round(random.gauss(0, 0.11), 6) for _ in range(n)]
for k in range(4):
    columns["cosine%02d" % k] = [round(math.sqrt(2.0 / n) * math.cos(math.pi * (t + 0.5) * (k + 1) / n), 6)
                                 for t in range(n)]
columns["non_steady_state_outlier00"] = [1 if t == 0 else 0 for t in range(n)]
for name, scale in [("trans_x", 0.02), ("trans_y", 0.03), ("trans_z", 0.05), ("rot_x", 0.0004), ("rot_y", 0.0003),
                    ("rot_z", 0.0002)]:
    expand(name, walk(scale))
for k, t in enumerate([9, 10, 14, 17, 30]):
    columns["motion_outlier%02d" % k] = [1 if u == t else 0 for u in range(n)]


def text(v):
    if v is None:
        return "n/a"
    return repr(v) if isinstance(v, float) else str(v)


names = list(columns)
with open("sub-01_task-go_desc-confounds_timeseries.tsv", "w") as out:
    out.write("\t".join(names) + "\n")
    for t in range(n):
        out.write("\t".join(text(columns[c][t]) for c in names) + "\n")

sidecar = {}
def components(prefix, indices, method, mask, variances):
    total = 0.0
    for k, v in zip(indices, variances):
        total += v
        entry = {"Method": method, "SingularValue": round(30.0 * v, 4), "VarianceExplained": v,
                 "CumulativeVarianceExplained": round(total, 4), "Retained": True}
        if mask:
            entry["Mask"] = mask
        sidecar["%s_%02d" % (prefix, k)] = entry


components("a_comp_cor", range(0, 5), "aCompCor", "combined", [0.21, 0.14, 0.11, 0.08, 0.06])
components("a_comp_cor", range(5, 8), "aCompCor", "CSF", [0.40, 0.15, 0.07])
components("a_comp_cor", range(8, 11), "aCompCor", "WM", [0.30, 0.15, 0.07])
components("t_comp_cor", range(0, 3), "tCompCor", "", [0.33, 0.12, 0.09])
sidecar["dropped_0"] = {"Method": "aCompCor", "Mask": "combined", "VarianceExplained": 0.001,
                        "CumulativeVarianceExplained": 0.601, "Retained": False}
sidecar["cosine00"] = {"Method": "Discrete cosine basis", "Cutoff period": 128.0}
sidecar["global_signal"] = {"Method": "Mean"}
with open("sub-01_task-go_desc-confounds_timeseries.json", "w") as out:
    json.dump(sidecar, out, indent=2)
    out.write("\n")

with open("sub-01_task-go_events.tsv", "w") as out:
    out.write("onset\tduration\ttrial_type\tresponse_time\n")
    onset = 6.0
    for k in range(14):
        kind = "go" if k % 3 else "stop"
        out.write("%s\t%s\t%s\t%s\n" % (onset, 2.0 if kind == "go" else 3.5, kind,
                                        "n/a" if kind == "stop" else "%.3f" % random.uniform(0.3, 0.6)))
        onset += 10.5
