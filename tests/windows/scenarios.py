#!/usr/bin/python3
"""Runs one comparison scenario twice, with the native Corvantis and Quorvex
library and with Corvantis.exe and Quorvex.dll under Wine, and fails when any
output differs in one byte: log pane (stdout), message box (stderr), exit
status, trace, and every file the run leaves in its folder (.map, .fmr, .stc).

Both runs start in a folder of their own holding the same generated inputs and
name every input by a relative path, so the only text that may differ is the
run folder itself as the host spells it in the FMR's full path (seen in the
trace's cvSaveFMRAndSTC argument): that, and only that, is replaced by
"<run folder>" before the traces are compared.

    scenarios.py init-prefix --wine WINE64 --prefix DIR
    scenarios.py list
    scenarios.py run NAME --native-bin DIR --windows-bin DIR --wine WINE64
                 --prefix DIR --work DIR
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys

VOLUMES = 36
DIMS = (6, 5, 4)


class Lcg:
    """A fixed pseudo-random sequence, the same on every Python."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def uniform(self):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) & 0xFFFFFFFFFFFFFFFF
        return (self.state >> 11) / float(1 << 53)

    def centred(self):
        return self.uniform() * 2.0 - 1.0


def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def regressors():
    rng = Lcg(11)
    t = range(VOLUMES)
    task = [1.0 if (i // 6) % 2 == 1 else 0.0 for i in t]
    drift1 = [i / (VOLUMES - 1) - 0.5 for i in t]
    drift2 = [((i / (VOLUMES - 1)) - 0.5) ** 2 for i in t]
    motion = [[0.3 * rng.centred() + 0.1 * k for _ in t] for k in range(3)]
    return task, drift1, drift2, motion


def write_run(folder):
    task, drift1, drift2, motion = regressors()
    rng = Lcg(5)
    dx, dy, dz = DIMS
    voxels = dx * dy * dz
    base = []
    for v in range(voxels):
        # Some voxels stay below the default threshold of 100, some only dip below.
        base.append(40.0 + 400.0 * rng.uniform())
    courses = bytearray()
    for i in range(VOLUMES):
        for v in range(voxels):
            value = (base[v] + 12.0 * task[i] * (v % 3 == 0) + 30.0 * drift1[i] + 15.0 * drift2[i]
                     + 4.0 * motion[v % 3][i] + 6.0 * rng.centred())
            courses += struct.pack("<f", f32(value))
    with open(os.path.join(folder, "run.stc"), "wb") as out:
        out.write(courses)
    with open(os.path.join(folder, "run.fmr"), "wb") as out:
        out.write(("# scenario run\nNrOfVolumes: %d\nDimX: %d\nDimY: %d\nDimZ: %d\nDataType: 2\n"
                   "STCFile: run.stc\nTR: 2000\n" % ((VOLUMES,) + DIMS)).encode())


def number(value):
    return "%.6f" % value


def write_design(path, names, columns, first_confound, line_end="\n", points=None, texts=None):
    """texts, when given, maps (row, column) to the literal text of that value."""
    points = len(columns[0]) if points is None else points
    lines = ["FileVersion:            1", "",
             "NrOfPredictors:         %d" % len(columns),
             "NrOfDataPoints:         %d" % points,
             "IncludesConstant:       0",
             "FirstConfoundPredictor: %d" % first_confound, ""]
    lines += ["%d 80 %d" % (200 - 10 * j, 20 * j) for j in range(len(columns))]
    lines.append(" ".join('"%s"' % n for n in names))
    for t in range(len(columns[0])):
        row = []
        for j, column in enumerate(columns):
            row.append(texts.get((t, j), number(column[t])) if texts else number(column[t]))
        lines.append(" ".join(row))
    with open(path, "wb") as out:
        out.write((line_end.join(lines) + line_end).encode())


def write_models(folder, line_end="\n", texts1=None, texts2=None, points2=None):
    task, drift1, drift2, motion = regressors()
    write_design(os.path.join(folder, "model1.sdm"), ["Task", "Drift 1", "Drift 2"],
                 [task, drift1, drift2], 2, line_end, texts=texts1)
    write_design(os.path.join(folder, "model2.sdm"),
                 ["Task", "Drift 1", "Drift 2", "Motion X", "Motion Y", "Motion Z"],
                 [task, drift1, drift2] + motion, 2, line_end, points=points2, texts=texts2)


def write_same_size_models(folder):
    task, drift1, drift2, motion = regressors()
    write_design(os.path.join(folder, "model1.sdm"), ["Task", "Drift 1", "Drift 2"],
                 [task, drift1, drift2], 2)
    write_design(os.path.join(folder, "model2.sdm"), ["Task", "Motion X", "Motion Y"],
                 [task, motion[0], motion[1]], 2)


def write_ill_conditioned_models(folder):
    """Model 2 adds a predictor that nearly repeats a drift at a large scale:
    too ill-conditioned for an inversion in single precision."""
    task, drift1, drift2, motion = regressors()
    write_design(os.path.join(folder, "model1.sdm"), ["Task", "Drift 1", "Drift 2"],
                 [task, drift1, drift2], 2)
    near = [1000.0 * d + 0.002 * m for d, m in zip(drift1, motion[0])]
    write_design(os.path.join(folder, "model2.sdm"), ["Task", "Drift 1", "Drift 2", "Drift 1 again"],
                 [task, drift1, drift2, near], 2)


# Decimal texts that only a correctly rounding strtod reads right: halfway
# cases between two doubles (or two floats) pushed off the midpoint by a digit
# far beyond the 17th, long mantissas and large exponents that still fit.
# Every text keeps one decimal point: the reader finds a row's fields by them.
HARD_TEXTS = {
    (0, 1): "-0.50000000000000011102230246251565404236316680908203125000000001",
    (1, 1): "-0.4714285714285714285714285714285714285714285714285714285714285714",
    (2, 1): "-0.44285714285714283811046243499731644988059997558593750000000000001",
    (3, 1): "-0.414285714285714257447796735024894587695598602294921874999999999",
    (4, 1): "-385714285714285714285714285714285714285714285714.0e-48",
    (5, 1): "-0.0357142857142857142857142857142857142857142857142857e+1",
    (6, 1): "-3.2857142857142854763807804374664556235074996948242187500000000001e-1",
    (7, 1): "-0.30000001192092895507812500000000000000000000000000000000000000001",
    (8, 1): "-0.2714285850524902343750000000000000000000000000000000000000000001",
    (9, 1): "-0.24285714328289031982421875",
    (10, 1): "-0.2142857164144515991210937499999999999999999999999999999999999999",
    (3, 2): "0.00694444444444444444444444444444444444444444444444444444444444444",
    (5, 2): "  +0.0263888888888888888888888888888888888888888888888888888888888888",
}

# name -> (inputs, arguments, tasks); tasks default to "start".
SCENARIOS = {
    "all_outputs": (lambda d: (write_run(d), write_models(d)),
                    ["--set", "residuals1=1", "--set", "residuals2=1"], None),
    "crlf_designs_threshold": (lambda d: (write_run(d), write_models(d, "\r\n")),
                               ["--set", "fmr_threshold=250.5", "--set", "residuals2=1",
                                "--set", "tSNR3=0", "--set", "Fmap=0"], None),
    "strtod_rounding": (lambda d: (write_run(d), write_models(d, texts1=HARD_TEXTS, texts2=HARD_TEXTS)),
                        ["--set", "fmr_threshold=60", "--set", "residuals1=1",
                         "--set", "R2adj1=0", "--set", "tSNR2=0"], None),
    "equal_predictor_counts_choose_sdm": (lambda d: (write_run(d), write_same_size_models(d)),
                                          ["--open-file", "picked.sdm"], ["choose_sdm", "start"]),
    "ill_conditioned_design": (lambda d: (write_run(d), write_ill_conditioned_models(d)),
                               ["--set", "residuals2=1"], None),
    "no_voxel_above_threshold": (lambda d: (write_run(d), write_models(d)),
                                 ["--set", "fmr_threshold=1e9", "--set", "residuals1=1"], None),
    "error_missing_design": (lambda d: (write_run(d), write_models(d)),
                             ["--set", "sdmfile2=absent.sdm"], None),
    "error_volume_count": (lambda d: (write_run(d), write_models(d, points2=VOLUMES - 1)), [], None),
    "error_underflow": (lambda d: (write_run(d), write_models(d, texts2={(4, 3): "1.0e-400"})), [], None),
    "error_subnormal": (lambda d: (write_run(d), write_models(d, texts2={(4, 3): "1.0e-310"})), [], None),
    "error_overflow": (lambda d: (write_run(d), write_models(d, texts1={(2, 2): "-2.0e308"})), [], None),
    "error_infinite_float": (lambda d: (write_run(d), write_models(d, texts2={(0, 0): "1.0e39"})), [], None),
    "error_inf_text": (lambda d: (write_run(d), write_models(d, texts2={(1, 4): "INF.0"})), [], None),
    "hex_and_nan_texts": (lambda d: (write_run(d), write_models(d, texts1={(3, 1): "-0x1.a8p-2", (7, 2): "0X.2P-1"},
                                                               texts2={(9, 2): "nan.0"})),
                          ["--set", "residuals1=1"], None),
    "refusal_old_host": (lambda d: (write_run(d), write_models(d)), ["--host-version", "2.7.0"], None),
    "refusal_no_document": (lambda d: write_models(d), ["--no-fmr"], None),
}


def wine_environment(prefix):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    # No Mono or Gecko install prompts in a fresh prefix.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    return env


def wineserver_of(wine):
    return os.path.join(os.path.dirname(wine), "wineserver")


def init_prefix(args):
    env = wine_environment(args.prefix)
    if os.path.isdir(args.prefix):
        # The last run's server of this prefix, if still up, goes with it.
        subprocess.run([wineserver_of(args.wine), "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(args.prefix)
    os.makedirs(args.prefix)
    subprocess.run([args.wine, "wineboot", "--init"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([wineserver_of(args.wine), "-w"], env=env, check=True)
    return 0


def command_line(scenario, program):
    _, arguments, tasks = SCENARIOS[scenario]
    args = [program]
    if "--no-fmr" in arguments:
        arguments = [a for a in arguments if a != "--no-fmr"]
    else:
        args += ["--fmr", "run.fmr"]
    args += ["--set", "sdmfile1=model1.sdm", "--set", "sdmfile2=model2.sdm", "--trace", "trace.txt"]
    return args + arguments + (tasks or ["start"])


def run_once(folder, argv, env):
    done = subprocess.run(argv, cwd=folder, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=120)
    outputs = {"<exit status>": str(done.returncode).encode(), "<stdout>": done.stdout,
               "<stderr>": done.stderr}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            outputs[name] = f.read()
    return outputs


def trace_spelling_native(folder):
    return (os.path.abspath(folder) + "/").encode()


def trace_spelling_wine(folder):
    # Wine's Z: drive is the Unix root; the trace doubles every backslash.
    return ("Z:" + os.path.abspath(folder).replace("/", "\\\\") + "\\\\").encode()


def first_difference(a, b):
    for i in range(min(len(a), len(b))):
        if a[i] != b[i]:
            return i
    return min(len(a), len(b))


def compare(native, windows):
    problems = []
    for name in sorted(set(native) | set(windows)):
        if name not in windows:
            problems.append("%s: written only by the native run" % name)
        elif name not in native:
            problems.append("%s: written only by the Windows run" % name)
        elif native[name] != windows[name]:
            at = first_difference(native[name], windows[name])
            problems.append("%s: differs from byte %d (sizes %d, %d)\n  native:  %r\n  windows: %r" % (
                name, at, len(native[name]), len(windows[name]),
                native[name][max(0, at - 40):at + 40], windows[name][max(0, at - 40):at + 40]))
    return problems


def run_scenario(args):
    inputs = SCENARIOS[args.name][0]
    root = os.path.join(args.work, args.name)
    if os.path.isdir(root):
        shutil.rmtree(root)
    folders = {"native": os.path.join(root, "native"), "windows": os.path.join(root, "windows")}
    for folder in folders.values():
        os.makedirs(folder)
        inputs(folder)
    native = run_once(folders["native"], command_line(args.name, os.path.join(args.native_bin, "Corvantis")),
                      dict(os.environ))
    windows = run_once(folders["windows"],
                       [args.wine] + command_line(args.name, os.path.join(args.windows_bin, "Corvantis.exe")),
                       wine_environment(args.prefix))
    native["trace.txt"] = native.get("trace.txt", b"").replace(
        trace_spelling_native(folders["native"]), b"<run folder>/")
    windows["trace.txt"] = windows.get("trace.txt", b"").replace(
        trace_spelling_wine(folders["windows"]), b"<run folder>/")
    problems = compare(native, windows)
    sys.stdout.write("%s: exit status %s, %d outputs compared\n" % (
        args.name, native["<exit status>"].decode(), len(native)))
    sys.stdout.write("--- stdout ---\n" + native["<stdout>"].decode(errors="replace"))
    sys.stdout.write("--- stderr ---\n" + native["<stderr>"].decode(errors="replace"))
    for problem in problems:
        sys.stdout.write("DIFFERENT " + problem + "\n")
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    init = sub.add_parser("init-prefix")
    init.add_argument("--wine", required=True)
    init.add_argument("--prefix", required=True)
    sub.add_parser("list")
    run = sub.add_parser("run")
    run.add_argument("name", choices=sorted(SCENARIOS))
    for option in ("--native-bin", "--windows-bin", "--wine", "--prefix", "--work"):
        run.add_argument(option, required=True)
    args = parser.parse_args()
    if args.command == "init-prefix":
        return init_prefix(args)
    if args.command == "list":
        print(";".join(sorted(SCENARIOS)))
        return 0
    return run_scenario(args)


if __name__ == "__main__":
    sys.exit(main())
