// --nifti: every saved map and FMR/STC pair also as NIfTI-1, read back here by
// nibabel and compared bit for bit with the .map and .stc files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Nibabel.h"

namespace {

using hosttest::TempDir;

// argv[1] the output folder, argv[2] the source NIfTI or "-" (then argv[3..5]
// are the voxel sizes and argv[6] the TR in seconds). Prints one line per file checked.
const char kCheckCopies[] = R"(
import sys, glob, os, numpy as np, nibabel as nib
folder, source = sys.argv[1], sys.argv[2]
def same_bits(a, b, what):
    a = np.ascontiguousarray(a, dtype='<f4'); b = np.ascontiguousarray(b, dtype='<f4')
    assert a.shape == b.shape, (what, a.shape, b.shape)
    assert (a.view('<u4') == b.view('<u4')).all(), what
def check_space(img, what):
    if source != '-':
        src = nib.load(source)
        for form in ('qform', 'sform'):
            got, code = getattr(img.header, 'get_' + form)(coded=True)
            want, wcode = getattr(src.header, 'get_' + form)(coded=True)
            assert code == wcode, (what, form, code, wcode)
            if code: assert np.array_equal(got, want), (what, form, got, want)
        assert img.header.get_zooms()[:3] == src.header.get_zooms()[:3], what
    else:
        assert img.header.get_zooms()[:3] == tuple(np.float32(v) for v in sys.argv[3:6]), (what, img.header.get_zooms())
maps = sorted(glob.glob(os.path.join(folder, '*.map')))
assert maps, 'no maps'
for m in maps:
    raw = open(m, 'rb').read()
    hdr = np.frombuffer(raw[8:72], dtype='<i4'); f = np.frombuffer(raw[8:72], dtype='<f4')
    dx, dy, dz, maptype = hdr[0], hdr[1], hdr[2], hdr[3]
    values = np.frombuffer(raw[72:], dtype='<f4').reshape((dz, dy, dx)).transpose(2, 1, 0)
    img = nib.load(m[:-4] + '.nii.gz')
    assert img.shape == (dx, dy, dz), (m, img.shape)
    same_bits(np.asanyarray(img.dataobj), values, m)
    assert img.header['cal_min'] == f[4] and img.header['cal_max'] == f[5], m
    if maptype == 4:
        assert img.header.get_intent() == ('f test', (float(hdr[8]), float(hdr[9])), ''), (m, img.header.get_intent())
    else:
        assert img.header['intent_code'] == 0, m
    check_space(img, m)
    print('map', os.path.basename(m))
for fmr in sorted(glob.glob(os.path.join(folder, '*_min_confounds_of_*.fmr'))):
    keys = dict(l.split(': ', 1) for l in open(fmr).read().splitlines() if ': ' in l and not l.startswith('#'))
    n, dx, dy, dz = (int(keys[k]) for k in ('NrOfVolumes', 'DimX', 'DimY', 'DimZ'))
    stc = np.fromfile(os.path.join(folder, keys['STCFile']), dtype='<f4').reshape((n, dz, dy, dx)).transpose(3, 2, 1, 0)
    img = nib.load(fmr[:-4] + '.nii.gz')
    same_bits(np.asanyarray(img.dataobj), stc, fmr)
    check_space(img, fmr)
    tr = float(keys['TR']) / 1000.0
    assert abs(img.header.get_zooms()[3] - tr) < 1e-6 and img.header.get_xyzt_units()[1] == 'sec', fmr
    print('run', os.path.basename(fmr))
)";

std::vector<std::string> allOutputs(const std::string& m1, const std::string& m2) {
    std::vector<std::string> args = {"--nifti", "--set", "sdmfile1=" + m1, "--set", "sdmfile2=" + m2};
    for (const char* s :
         {"tSNR1", "tSNR2", "tSNR3", "R2adj1", "R2adj2", "R2adj3", "Fmap", "residuals1", "residuals2"}) {
        args.push_back("--set");
        args.push_back(std::string(s) + "=1");
    }
    return args;
}

void expectCopiesMatch(const std::string& dir, const std::vector<std::string>& sourceArgs, std::size_t files) {
    std::vector<std::string> args = {dir};
    args.insert(args.end(), sourceArgs.begin(), sourceArgs.end());
    const hosttest::Outcome check = hostio::runPython(kCheckCopies, args);
    ASSERT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(static_cast<std::size_t>(std::count(check.out.begin(), check.out.end(), '\n')), files) << check.out;
}

TEST(NiftiOutputs, MapsAndRunsOfAnFmrRunCarryItsVoxelSizes) {
    SKIP_WITHOUT_NIBABEL();
    TempDir dir;
    const std::string program = hosttest::corvantisProgram();
    ASSERT_EQ(hosttest::runProgram(program, {"generate", "--size", "8,7,4", "--volumes", "40", dir.path()}).status, 0);
    std::vector<std::string> args = {"--fmr", dir.file("run.fmr")};
    const std::vector<std::string> outputs =
        allOutputs(dir.file("model1_drift.sdm"), dir.file("model2_drift_motion.sdm"));
    args.insert(args.end(), outputs.begin(), outputs.end());
    args.push_back("start");
    const hosttest::Outcome run = hosttest::runProgram(program, args);
    ASSERT_EQ(run.status, 0) << run.err;
    expectCopiesMatch(dir.path(), {"-", "3", "3", "3"}, 9);
}

TEST(NiftiOutputs, MapsAndRunsOfANiftiRunCarryItsQformAndSform) {
    SKIP_WITHOUT_NIBABEL();
    const std::string functional = "/usr/lib/python3/dist-packages/nibabel/tests/data/functional.nii";
    if (!hosttest::fileExists(functional)) {
        GTEST_SKIP() << "no small functional NIfTI run at " << functional << " (python3-nibabel's test data)";
    }
    TempDir dir;
    std::filesystem::copy_file(functional, dir.file("functional.nii"));
    // Regressors for its 20 volumes: a task block, and two confounds, one with an undefined first value.
    std::string table = "task\tdrift\tmotion\n";
    for (int t = 0; t < 20; ++t) {
        table += std::to_string((t / 5) % 2) + "\t" + std::to_string(t * 0.1 - 1.0) + "\t" +
                 (t == 0 ? std::string("n/a") : std::to_string(((t * 7) % 5) * 0.3)) + "\n";
    }
    hosttest::writeFile(dir.file("confounds.tsv"), table);
    const std::string program = hosttest::corvantisProgram();
    for (const auto& [name, confounds] : {std::pair<std::string, std::string>{"m1.sdm", "drift"},
                                          std::pair<std::string, std::string>{"m2.sdm", "drift,motion"}}) {
        const hosttest::Outcome made = hosttest::runProgram(
            program, {"make-sdm", "--table", dir.file("confounds.tsv"), "--interest", "task", "--confounds", confounds,
                      "--fmr", dir.file("functional.nii"), "--output", dir.file(name)});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    // The host's formats too, to compare the NIfTI outputs with them.
    std::vector<std::string> args = {"--fmr", dir.file("functional.nii"), "--host-formats", "--set",
                                     "fmr_threshold=10"};
    const std::vector<std::string> outputs = allOutputs(dir.file("m1.sdm"), dir.file("m2.sdm"));
    args.insert(args.end(), outputs.begin(), outputs.end());
    args.push_back("start");
    const hosttest::Outcome run = hosttest::runProgram(program, args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("FMR size: 17 x 21 x 3 x 20"), std::string::npos) << run.out;
    EXPECT_TRUE(hosttest::fileExists(dir.file("functional_min_confounds_of_m2.nii.gz")));
    expectCopiesMatch(dir.path(), {dir.file("functional.nii")}, 9);
}

} // namespace
