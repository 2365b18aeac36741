// A run opened from NIfTI saves each output once, as NIfTI: the same files
// whatever the thread count and whether the host's formats are written too,
// .nii with --no-gzip, never over the run itself; summary and render read the
// NIfTI maps as they read .map files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>

#include "Nibabel.h"
#include "host/core/NiftiOutputs.h"
#include "host/core/RunDocument.h"
#include "host/formats/Gzip.h"

namespace {

namespace fs = std::filesystem;
using hosttest::Outcome;
using hosttest::TempDir;

const char* const kDesigns[] = {"model1_drift.sdm", "model2_drift_motion.sdm"};

// A generated run made into run.nii.gz (four gzip members) in each of the
// folders, with the designs beside it.
class NiftiRunOutputs : public ::testing::Test {
protected:
    void SetUp() override {
        const Outcome made =
            hosttest::runProgram(program, {"generate", "--size", "16,16,8", "--volumes", "120", dir.file("generated")});
        ASSERT_EQ(made.status, 0) << made.err;
        const corvantis::FmrDocument run = corvantis::openRunDocument(dir.file("generated/run.fmr"));
        corvantis::writeRunAsNifti(run, dir.file("generated/run.fmr"), corvantis::NiftiOutputOptions{true, 1});
    }

    std::string folder(const std::string& name, const std::string& runName = "run.nii.gz") {
        fs::create_directories(dir.file(name));
        fs::copy_file(dir.file("generated/run.nii.gz"), dir.file(name + "/" + runName));
        for (const char* design : kDesigns)
            fs::copy_file(dir.file(std::string("generated/") + design), dir.file(name + "/" + design));
        return dir.file(name);
    }

    Outcome start(const std::string& folder, std::vector<std::string> extra,
                  const std::string& runName = "run.nii.gz") {
        std::vector<std::string> args = {"--fmr", folder + "/" + runName,
                                         "--set", "sdmfile1=" + folder + "/" + kDesigns[0],
                                         "--set", "sdmfile2=" + folder + "/" + kDesigns[1],
                                         "--set", "residuals1=1",
                                         "--set", "residuals2=1",
                                         "--set", "fmr_threshold=50"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("start");
        return hosttest::runProgram(program, args);
    }

    TempDir dir;
    const std::string program = hosttest::corvantisProgram();
};

std::vector<std::string> withExtension(const std::vector<std::string>& names, const std::string& extension) {
    std::vector<std::string> chosen;
    for (const std::string& name : names) {
        if (name.size() > extension.size() &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
            chosen.push_back(name.substr(0, name.size() - extension.size()));
        }
    }
    return chosen;
}

std::string gunzip(const std::string& path) {
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) throw std::runtime_error("cannot open " + path);
    std::string bytes;
    char buffer[65536];
    int n = 0;
    while ((n = gzread(file, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    gzclose(file);
    if (n < 0) throw std::runtime_error("cannot decompress " + path);
    return bytes;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

const std::vector<std::string> kOutputs = {"model1_drift_R2adj",
                                           "model1_drift_tSNR_residuals",
                                           "model2_drift_motion_Fval_diff_model1_drift",
                                           "model2_drift_motion_R2adj",
                                           "model2_drift_motion_R2adj_diff_model1_drift",
                                           "model2_drift_motion_tSNR_diff_model1_drift",
                                           "model2_drift_motion_tSNR_residuals",
                                           "run",
                                           "run_min_confounds_of_model1_drift",
                                           "run_min_confounds_of_model2_drift_motion"};

TEST_F(NiftiRunOutputs, EachOutputIsWrittenOnceAsNiftiTheSameForEveryThreadCount) {
    const std::string once = folder("once"), both = folder("both"), plain = folder("plain");
    const Outcome a = start(once, {"--threads", "1", "--trace", dir.file("once.trace")});
    ASSERT_EQ(a.status, 0) << a.err;
    const Outcome b = start(both, {"--threads", "3", "--host-formats", "--trace", dir.file("both.trace")});
    ASSERT_EQ(b.status, 0) << b.err;
    const Outcome c = start(plain, {"--no-gzip"});
    ASSERT_EQ(c.status, 0) << c.err;

    // Only NIfTI: the run and nine outputs, besides the designs.
    const std::vector<std::string> onceFiles = hosttest::filesIn(once);
    EXPECT_EQ(onceFiles.size(), 2 + kOutputs.size()) << ::testing::PrintToString(onceFiles);
    EXPECT_EQ(withExtension(onceFiles, ".nii.gz"), kOutputs);
    std::vector<std::string> outputs = kOutputs;
    outputs.erase(std::find(outputs.begin(), outputs.end(), "run"));
    EXPECT_EQ(withExtension(hosttest::filesIn(plain), ".nii"), outputs);
    // The host's formats as well only when asked.
    EXPECT_EQ(withExtension(hosttest::filesIn(both), ".map").size(), 7u);
    EXPECT_EQ(withExtension(hosttest::filesIn(both), ".stc").size(), 2u);
    EXPECT_GT(fs::file_size(once + "/run_min_confounds_of_model1_drift.nii.gz"), 3 * corvantis::kGzipMemberBytes / 2);
    for (const std::string& name : kOutputs) {
        if (name == "run") continue;
        const std::string gz = once + "/" + name + ".nii.gz";
        EXPECT_EQ(hosttest::readFile(gz), hosttest::readFile(both + "/" + name + ".nii.gz")) << name;
        EXPECT_EQ(gunzip(gz), hosttest::readFile(plain + "/" + name + ".nii")) << name;
    }
    // The plug-in's log and its calls are the same either way.
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    EXPECT_EQ(replaced(hosttest::readFile(dir.file("once.trace")), once + "/", ""),
              replaced(hosttest::readFile(dir.file("both.trace")), both + "/", ""));
    EXPECT_NE(hosttest::readFile(dir.file("once.trace"))
                  .find("cvSaveFMRAndSTC(\"" + once +
                        "/run_min_confounds_of_model2_drift_motion.fmr\", "
                        "\"run_min_confounds_of_model2_drift_motion\") -> true"),
              std::string::npos);
}

// argv[1] the folder: every NIfTI output against its .map or .stc, bit for bit.
const char kCheckAgainstHostFormats[] = R"(
import sys, glob, os, numpy as np, nibabel as nib
folder = sys.argv[1]
for m in sorted(glob.glob(os.path.join(folder, '*.map'))):
    raw = open(m, 'rb').read()
    hdr = np.frombuffer(raw[8:72], dtype='<i4'); f = np.frombuffer(raw[8:72], dtype='<f4')
    values = np.frombuffer(raw[72:], dtype='<f4').reshape((hdr[2], hdr[1], hdr[0])).transpose(2, 1, 0)
    img = nib.load(m[:-4] + '.nii.gz')
    assert (np.asanyarray(img.dataobj).view('<u4') == values.view('<u4')).all(), m
    assert img.header['cal_min'] == f[4] and img.header['cal_max'] == f[5], m
    print('map', os.path.basename(m))
for stc in sorted(glob.glob(os.path.join(folder, '*_min_confounds_of_*.stc'))):
    img = nib.load(stc[:-4] + '.nii.gz')
    data = np.fromfile(stc, dtype='<f4').reshape(img.shape[::-1]).transpose(3, 2, 1, 0)
    assert (np.asanyarray(img.dataobj).view('<u4') == data.view('<u4')).all(), stc
    print('run', os.path.basename(stc))
)";

TEST_F(NiftiRunOutputs, TheNiftiOutputsHoldWhatTheHostFormatsHold) {
    SKIP_WITHOUT_NIBABEL();
    const std::string both = folder("both");
    const Outcome run = start(both, {"--host-formats", "--threads", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Outcome check = hostio::runPython(kCheckAgainstHostFormats, {both});
    ASSERT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(std::count(check.out.begin(), check.out.end(), '\n'), 9) << check.out;
}

TEST_F(NiftiRunOutputs, SummaryAndRenderReadTheNiftiMapsAsTheMapFiles) {
    const std::string both = folder("both");
    ASSERT_EQ(start(both, {"--host-formats"}).status, 0);
    std::vector<std::string> maps = {"summary"}, niftiMaps = {"summary"};
    for (const std::string& name : withExtension(hosttest::filesIn(both), ".map")) {
        maps.push_back(both + "/" + name + ".map");
        niftiMaps.push_back(both + "/" + name + ".nii.gz");
    }
    ASSERT_EQ(maps.size(), 8u);
    const Outcome fromMaps = hosttest::runProgram(program, maps);
    const Outcome fromNifti = hosttest::runProgram(program, niftiMaps);
    ASSERT_EQ(fromMaps.status, 0) << fromMaps.err;
    ASSERT_EQ(fromNifti.status, 0) << fromNifti.err;
    // Names padded to 50: ".nii.gz" is three characters longer than ".map".
    EXPECT_EQ(replaced(fromNifti.out, ".nii.gz", ".map   "), fromMaps.out);
    EXPECT_NE(fromNifti.out.find("   4 "), std::string::npos) << "the F map's type" << fromNifti.out;

    // One picture of the F map from each format, under one name: the same pixels.
    const std::string fmap = "model2_drift_motion_Fval_diff_model1_drift";
    fs::create_directories(dir.file("map"));
    fs::create_directories(dir.file("nifti"));
    fs::copy_file(both + "/" + fmap + ".map", dir.file("map/F"));
    fs::copy_file(both + "/" + fmap + ".nii.gz", dir.file("nifti/F"));
    for (const char* kind : {"map", "nifti"}) {
        const Outcome drawn =
            hosttest::runProgram(program, {"render", "--fmr", both + "/run.nii.gz", dir.file(std::string(kind) + "/F"),
                                           "-o", dir.file(std::string(kind) + ".png")});
        ASSERT_EQ(drawn.status, 0) << drawn.err;
    }
    EXPECT_EQ(hosttest::readFile(dir.file("map.png")), hosttest::readFile(dir.file("nifti.png")));
}

// A map named as the run would replace the user's data: it is refused and the run stays.
TEST_F(NiftiRunOutputs, AnOutputNamedAsTheRunIsRefusedAndTheRunStays) {
    const std::string runName = "model2_drift_motion_R2adj.nii.gz";
    const std::string same = folder("same", runName);
    const std::string before = hosttest::readFile(same + "/" + runName);
    const Outcome run = start(same, {}, runName);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Corvantis: warning: cannot save \"" + same +
                           "/model2_drift_motion_R2adj.map\": cannot write \"" + same + "/" + runName +
                           "\": it is the NIfTI run being analysed\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(hosttest::readFile(same + "/" + runName), before);
    EXPECT_TRUE(hosttest::fileExists(same + "/model2_drift_motion_tSNR_residuals.nii.gz"));
}

TEST_F(NiftiRunOutputs, ThreadsOutsideOneTo1024AreAUsageMistake) {
    const std::string once = folder("once");
    for (const char* threads : {"0", "1025", "two", "-3"}) {
        const Outcome run = start(once, {"--threads", threads});
        EXPECT_EQ(run.status, 2) << threads;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')),
                  std::string("Corvantis: --threads takes a whole number from 1 to 1024, not \"") + threads + "\"");
    }
    EXPECT_EQ(hosttest::filesIn(once).size(), 3u);
}

} // namespace
