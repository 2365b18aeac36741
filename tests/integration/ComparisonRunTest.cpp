// The comparison run end to end: the real Quorvex library inside the real
// Corvantis process, on small runs written by the tests.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "Scenario.h"
#include "tests/support/FloatBits.h"

using hosttest::fileExists;
using hosttest::readFile;
using itest::readMap;
using itest::Scenario;
using testsupport::bitsOf;

namespace {

const char* const kNoMaps[] = {"--set",    "tSNR1=0", "--set",    "tSNR2=0", "--set",    "tSNR3=0", "--set",
                               "R2adj1=0", "--set",   "R2adj2=0", "--set",   "R2adj3=0", "--set",   "Fmap=0"};

std::vector<std::string> noMaps(std::vector<std::string> more = {}) {
    std::vector<std::string> args(std::begin(kNoMaps), std::end(kNoMaps));
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

void expectSameBits(const std::vector<float>& actual, const Volume& expected) {
    ASSERT_EQ(actual.size(), static_cast<std::size_t>(expected.count()));
    for (int32_t i = 0; i < expected.count(); ++i) {
        EXPECT_EQ(bitsOf(actual[static_cast<std::size_t>(i)]), bitsOf(expected[i])) << "voxel " << i;
    }
}

// Lines of the trace that name one of the given services.
std::vector<std::string> traceOf(const std::string& path, const std::vector<std::string>& services) {
    std::vector<std::string> lines;
    std::string text = readFile(path), line;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        line = text.substr(start, end - start);
        for (const std::string& s : services) {
            if (line.compare(0, s.size() + 1, s + "(") == 0) lines.push_back(line);
        }
        start = end + 1;
    }
    return lines;
}

// The saved STC of one model's residual output: the reference's cleaned
// courses at the masked voxels, the values as loaded elsewhere.
void expectSavedCourses(const Scenario& s, const VoxelLoopResults& r, int model) {
    std::vector<float> expected = s.values;
    for (std::size_t j = 0; j < r.mask.size(); ++j) {
        for (int32_t v = 0; v < s.volumes; ++v) {
            expected[static_cast<std::size_t>(v * s.voxels() + r.mask[j])] =
                r.residuals[model].value(static_cast<int64_t>(j), v);
        }
    }
    const std::string stc =
        s.dir.file(model == 0 ? "run_min_confounds_of_model1.stc" : "run_min_confounds_of_model2.stc");
    const std::vector<float> saved = itest::readFloats(stc);
    ASSERT_EQ(saved.size(), expected.size());
    for (std::size_t i = 0; i < saved.size(); ++i)
        EXPECT_EQ(bitsOf(saved[i]), bitsOf(expected[i])) << model << " " << i;
}

} // namespace

TEST(ComparisonRun, LogsItsProgressAndSavesEveryMapWithTheReferenceValues) {
    Scenario s;
    const hosttest::Outcome o = s.run({});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "Corvantis: 19 of 24 voxels analysed (time course above the threshold 100 in every volume)\n");
    EXPECT_EQ(o.out,
              "\nQuorvex>  Running...\n"
              "\nQuorvex>  Start comparing models\n"
              "\nQuorvex>  FMR size: 4 x 3 x 2 x 24\n"
              "Quorvex>  Start comparing models\n"
              "Quorvex>  Saving Maps...\n"
              "\nQuorvex>  Plugin finished!\n\n"
              "\n");

    const VoxelLoopResults r = s.expected(100.0f, false, false); // the dialog's default threshold
    const std::string e = s.dir.file("model1"), d = s.dir.file("model2");
    expectSameBits(readMap(e + "_tSNR_residuals.map").values, r.tSNR[0]);
    expectSameBits(readMap(d + "_tSNR_residuals.map").values, r.tSNR[1]);
    expectSameBits(readMap(d + "_tSNR_diff_model1.map").values, r.tSNR[1] - r.tSNR[0]);
    expectSameBits(readMap(e + "_R2adj.map").values, r.r2adj[0]);
    expectSameBits(readMap(d + "_R2adj.map").values, r.r2adj[1]);
    expectSameBits(readMap(d + "_R2adj_diff_model1.map").values, r.r2adj[1] - r.r2adj[0]);
    expectSameBits(readMap(d + "_Fval_diff_model1.map").values, r.F);
    // The background voxels are not analysed.
    EXPECT_EQ(r.mask.size(), 19u);
    EXPECT_EQ(r.tSNR[0][0], 0.0f);
    EXPECT_NE(r.tSNR[0][1], 0.0f);
}

TEST(ComparisonRun, MapHeadersCarryTheRowsParametersAndKeepTheHostsOthers) {
    Scenario s;
    ASSERT_EQ(s.run({}).status, 0);
    const MapHeader t = readMap(s.dir.file("model1_tSNR_residuals.map")).header;
    EXPECT_EQ(t.MapType, 0);
    EXPECT_EQ(t.LowerThreshold, 5.0f);
    EXPECT_EQ(t.UpperThreshold, 100.0f);
    EXPECT_EQ(t.field28, 0);
    EXPECT_EQ(t.DimX, 4);
    EXPECT_EQ(t.DimZ, 2);
    // df 0 leaves the host's defaults, and byte 24 is the host's own.
    EXPECT_EQ(t.reserved24, 104);
    EXPECT_EQ(t.DF1, 106);
    EXPECT_EQ(t.DF2, 107);
    EXPECT_EQ(readMap(s.dir.file("model2_tSNR_diff_model1.map")).header.LowerThreshold, 1.0f);
    EXPECT_EQ(readMap(s.dir.file("model2_tSNR_diff_model1.map")).header.UpperThreshold, 20.0f);
    EXPECT_EQ(readMap(s.dir.file("model1_R2adj.map")).header.LowerThreshold, 0.1f);
    const MapHeader rd = readMap(s.dir.file("model2_R2adj_diff_model1.map")).header;
    EXPECT_EQ(rd.LowerThreshold, 0.05f);
    EXPECT_EQ(rd.UpperThreshold, 0.5f);

    // F: model 1 has 3 columns, model 2 has 5; n = 24.
    const MapHeader f = readMap(s.dir.file("model2_Fval_diff_model1.map")).header;
    const VoxelLoopResults r = s.expected(100.0f, false, false);
    EXPECT_EQ(f.MapType, 4);
    EXPECT_EQ(f.LowerThreshold, 2.0f);
    EXPECT_EQ(bitsOf(f.UpperThreshold), bitsOf(0.5f * r.F.max()));
    EXPECT_EQ(f.DF1, 2);
    EXPECT_EQ(f.DF2, 19);
}

TEST(ComparisonRun, ParametersAndServicesAreUsedInOrder) {
    Scenario s;
    const std::string trace = s.dir.file("trace.txt");
    ASSERT_EQ(s.run({"--set", "R2adj2=0", "--set", "Fmap=0", "--trace", trace}).status, 0);
    const std::vector<std::string> calls =
        traceOf(trace, {"cvGetFloatParameter", "cvGetIntParameter", "cvGetStringParameter", "cvShowBusyCursor",
                        "cvStopBusyCursor", "cvGetSTCFloatDataOfCurrentFMR", "cvSaveMAPsOfCurrentFMR"});
    const std::string e = s.dir.file("model1"), d = s.dir.file("model2");
    const std::vector<std::string> expected = {
        "cvGetStringParameter(\"task\") -> \"start\"",
        "cvShowBusyCursor()",
        "cvGetFloatParameter(\"fmr_threshold\") -> 100",
        "cvGetIntParameter(\"tSNR1\") -> 1",
        "cvGetIntParameter(\"tSNR2\") -> 1",
        "cvGetIntParameter(\"tSNR3\") -> 1",
        "cvGetIntParameter(\"R2adj1\") -> 1",
        "cvGetIntParameter(\"R2adj2\") -> 0",
        "cvGetIntParameter(\"R2adj3\") -> 1",
        "cvGetIntParameter(\"Fmap\") -> 0",
        "cvGetIntParameter(\"residuals1\") -> 0",
        "cvGetIntParameter(\"residuals2\") -> 0",
        "cvGetStringParameter(\"sdmfile1\") -> \"" + s.sdm1 + "\"",
        "cvGetStringParameter(\"sdmfile2\") -> \"" + s.sdm2 + "\"",
        "cvGetSTCFloatDataOfCurrentFMR() -> 24 volumes",
        "cvSaveMAPsOfCurrentFMR(\"" + e + "_tSNR_residuals.map\") -> true",
        "cvSaveMAPsOfCurrentFMR(\"" + d + "_tSNR_residuals.map\") -> true",
        "cvSaveMAPsOfCurrentFMR(\"" + d + "_tSNR_diff_model1.map\") -> true",
        "cvSaveMAPsOfCurrentFMR(\"" + e + "_R2adj.map\") -> true",
        "cvSaveMAPsOfCurrentFMR(\"" + d + "_R2adj_diff_model1.map\") -> true",
        "cvStopBusyCursor()",
    };
    EXPECT_EQ(calls, expected);
}

TEST(ComparisonRun, BusyCursorSurroundsEveryTaskButChooseSdmAlsoWhenTheRunFails) {
    Scenario s;
    const std::string trace = s.dir.file("trace.txt");
    const hosttest::Outcome o = s.run({"--set", "sdmfile2=" + s.dir.file("absent.sdm"), "--trace", trace},
                                      {"start", "start ", "Start", "", "CHOOSE_SDM", "choose_sdm"});
    EXPECT_EQ(o.status, 1);
    std::string expectedErr = "Error: Failed opening for reading: " + s.dir.file("absent.sdm") + "\n";
    for (const char* task : {"start ", "Start", "", "CHOOSE_SDM"}) {
        expectedErr += "Corvantis: warning: the dialog offers no task \"" + std::string(task) +
                       "\" (it offers choose_sdm, start); the plug-in is given it all the same\n";
    }
    EXPECT_EQ(o.err, expectedErr);
    const std::vector<std::string> calls =
        traceOf(trace, {"cvShowBusyCursor", "cvStopBusyCursor", "cvMessageBox", "cvGetOpenFileName"});
    const std::vector<std::string> expected = {
        "cvShowBusyCursor()",
        "cvStopBusyCursor()",
        "cvMessageBox(\"Error: Failed opening for reading: " + s.dir.file("absent.sdm") + "\")",
        "cvShowBusyCursor()",
        "cvStopBusyCursor()",
        "cvShowBusyCursor()",
        "cvStopBusyCursor()",
        "cvShowBusyCursor()",
        "cvStopBusyCursor()",
        "cvShowBusyCursor()",
        "cvStopBusyCursor()",
        "cvGetOpenFileName(\"Select an SDM:\", \"\", \"Design Matrix (*.sdm)\") -> (cancelled)",
    };
    EXPECT_EQ(calls, expected);
    // The failed run wrote nothing; the other tasks did nothing.
    EXPECT_FALSE(fileExists(s.dir.file("model1_tSNR_residuals.map")));
}

TEST(ComparisonRun, ChooseSdmStoresTheChosenPathAndEmptyWhenCancelled) {
    Scenario s;
    const std::string trace = s.dir.file("trace.txt");
    ASSERT_EQ(s.run({"--open-file", "/data/picked.sdm", "--trace", trace}, {"choose_sdm", "choose_sdm"}).status, 0);
    const std::vector<std::string> calls = traceOf(trace, {"cvSetStringParameter"});
    const std::vector<std::string> expected = {"cvSetStringParameter(\"sdmfile\", \"/data/picked.sdm\")",
                                               "cvSetStringParameter(\"sdmfile\", \"\")"};
    EXPECT_EQ(calls, expected);
}

TEST(ComparisonRun, VolumeCountErrorsNameTheFirstFailingModel) {
    Scenario s;
    s.model2.columns[0].pop_back();
    s.model2.columns[1].pop_back();
    s.model2.columns[2].pop_back();
    s.model2.columns[3].pop_back();
    s.write();
    hosttest::Outcome o = s.run({});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Error: model2.sdm does not have the same number of volumes as the FMR\n");
    EXPECT_EQ(o.out.find("Saving"), std::string::npos);

    for (auto& column : s.model1.columns) column.push_back(1.0f);
    s.write();
    o = s.run({});
    EXPECT_EQ(o.err, "Error: model1.sdm does not have the same number of volumes as the FMR\n");
}

TEST(ComparisonRun, InfiniteDesignValueFailsTheInversion) {
    Scenario s;
    s.write();
    std::string text = readFile(s.sdm2);
    // The first value of the first data row (written as "0.000000") becomes 1.0e39,
    // which fits a double but narrows to an infinite float.
    text.replace(text.rfind('"') + 2, 8, "1.0e39  ");
    hosttest::writeFile(s.sdm2, text);
    const hosttest::Outcome o = s.run({});
    EXPECT_EQ(o.err, "Error: Matrix inversion failed\n");
    EXPECT_EQ(o.status, 1);
}

TEST(ComparisonRun, MinimumEqualToTheThresholdIsNotAnalysedJustAboveIs) {
    Scenario s;
    for (int32_t t = 0; t < s.volumes; ++t) {
        s.at(1, t) = 300.0f + static_cast<float>(t);
        s.at(2, t) = 300.0f + static_cast<float>(t);
    }
    s.at(2, 5) = std::nextafter(300.0f, 1000.0f);
    s.at(2, 0) = std::nextafter(300.0f, 1000.0f);
    s.write();
    ASSERT_EQ(s.run(noMaps({"--set", "tSNR1=1", "--set", "fmr_threshold=300"})).status, 0);
    const std::vector<float> map = readMap(s.dir.file("model1_tSNR_residuals.map")).values;
    EXPECT_EQ(map[1], 0.0f);
    EXPECT_NE(map[2], 0.0f);
}

TEST(ComparisonRun, NoVoxelAboveTheThresholdStillSavesZeroMapsAndTheResiduals) {
    Scenario s;
    const hosttest::Outcome o = s.run({"--set", "fmr_threshold=1e9", "--set", "residuals1=1", "--set", "residuals2=1"});
    ASSERT_EQ(o.status, 0) << o.err;
    for (const char* name : {"model1_tSNR_residuals.map", "model2_R2adj.map", "model2_Fval_diff_model1.map"}) {
        for (float v : readMap(s.dir.file(name)).values) EXPECT_EQ(bitsOf(v), 0u) << name;
    }
    EXPECT_EQ(readMap(s.dir.file("model2_Fval_diff_model1.map")).header.UpperThreshold, 0.0f);
    // Both pairs hold the data as loaded.
    EXPECT_EQ(readFile(s.dir.file("run_min_confounds_of_model1.stc")), readFile(s.dir.file("run.stc")));
    EXPECT_EQ(readFile(s.dir.file("run_min_confounds_of_model2.stc")), readFile(s.dir.file("run.stc")));
}

TEST(ComparisonRun, EqualPredictorCountsLogInsteadOfAnFMap) {
    Scenario s;
    s.model1 = s.model2;
    s.model1.columns[3][0] = 0.5f; // same count, another design
    s.write();
    const hosttest::Outcome o = s.run({});
    EXPECT_NE(o.out.find("Quorvex>  Saving Maps...\n"
                         "Quorvex>  Fmap could not be create because both SDMs have the same number of predictors\n"),
              std::string::npos)
        << o.out;
    EXPECT_FALSE(fileExists(s.dir.file("model2_Fval_diff_model1.map")));
}

TEST(ComparisonRun, SameFileForBothModelsGivesZeroDifferences) {
    Scenario s;
    const hosttest::Outcome o = s.run({"--set", "sdmfile2=" + s.sdm1});
    ASSERT_EQ(o.status, 0) << o.err;
    for (float v : readMap(s.dir.file("model1_tSNR_diff_model1.map")).values) EXPECT_EQ(bitsOf(v), 0u);
    for (float v : readMap(s.dir.file("model1_R2adj_diff_model1.map")).values) EXPECT_EQ(bitsOf(v), 0u);
    EXPECT_NE(o.out.find("Fmap could not be create"), std::string::npos);
}

TEST(ComparisonRun, BothResidualSwitchesSaveEachModelsCleanedCourses) {
    Scenario s;
    const std::string trace = s.dir.file("trace.txt");
    const hosttest::Outcome o = s.run(noMaps({"--set", "residuals1=1", "--set", "residuals2=1", "--trace", trace}));
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("Quorvex>  Start comparing models\n"
                         "Quorvex>  Saving Residuals of confounds of model1.sdm\n"
                         "Quorvex>  Saving Residuals of confounds of model2.sdm\n"
                         "Quorvex>  Saving Maps...\n"),
              std::string::npos)
        << o.out;
    const std::vector<std::string> saves = traceOf(trace, {"cvSaveFMRAndSTC"});
    const std::vector<std::string> expectedSaves = {
        "cvSaveFMRAndSTC(\"" + s.dir.file("run_min_confounds_of_model1.fmr") +
            "\", \"run_min_confounds_of_model1\") -> true",
        "cvSaveFMRAndSTC(\"" + s.dir.file("run_min_confounds_of_model2.fmr") +
            "\", \"run_min_confounds_of_model2\") -> true"};
    EXPECT_EQ(saves, expectedSaves);

    const VoxelLoopResults r = s.expected(100.0f, true, true);
    for (int model = 0; model < 2; ++model) expectSavedCourses(s, r, model);
    EXPECT_NE(readFile(s.dir.file("run_min_confounds_of_model1.fmr")).find("STCFile: run_min_confounds_of_model1.stc"),
              std::string::npos);
}

TEST(ComparisonRun, EitherModelAloneSavesItsOwnCleanedCourses) {
    for (int model = 0; model < 2; ++model) {
        Scenario s;
        const std::string which = model == 0 ? "residuals1=1" : "residuals2=1";
        ASSERT_EQ(s.run(noMaps({"--set", which})).status, 0);
        expectSavedCourses(s, s.expected(100.0f, model == 0, model == 1), model);
        EXPECT_FALSE(
            fileExists(s.dir.file(model == 0 ? "run_min_confounds_of_model2.stc" : "run_min_confounds_of_model1.stc")));
    }
}

TEST(ComparisonRun, NoConfoundSelectedLeavesTheCoursesAsLoaded) {
    Scenario s;
    s.model1.firstConfound = 3; // = nrOfPredictors after the constant: nothing selected
    s.write();
    ASSERT_EQ(s.run(noMaps({"--set", "residuals1=1"})).status, 0);
    EXPECT_EQ(readFile(s.dir.file("run_min_confounds_of_model1.stc")), readFile(s.dir.file("run.stc")));
}

TEST(ComparisonRun, FirstConfoundBelowOneIsAnErrorNamingTheDesign) {
    Scenario s;
    s.model2.firstConfound = 0;
    s.write();
    const hosttest::Outcome o = s.run({});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err.rfind("Error: model2.sdm has FirstConfoundPredictor 0", 0), 0u) << o.err;
}

TEST(ComparisonRun, OutputNamesFollowPathsWithoutADotOrWithOneOnlyInAFolder) {
    Scenario s;
    hosttest::TempDir other;
    const std::string folder = other.file("v1.2");
    std::filesystem::create_directories(folder);
    const std::string plain = other.file("plain");
    const std::string dotted = folder + "/motion";
    itest::writeDesign(plain, s.model1);
    itest::writeDesign(dotted, s.model2);
    ASSERT_EQ(s.run(noMaps({"--set", "sdmfile1=" + plain, "--set", "sdmfile2=" + dotted, "--set", "tSNR1=1", "--set",
                            "tSNR2=1", "--set", "tSNR3=1", "--set", "residuals2=1"}))
                  .status,
              0);
    EXPECT_TRUE(fileExists(plain + "_tSNR_residuals.map"));
    // A '.' in a folder name starts no extension: the maps stay in that folder.
    EXPECT_TRUE(fileExists(folder + "/motion_tSNR_residuals.map"));
    EXPECT_TRUE(fileExists(folder + "/motion_tSNR_diff_plain.map"));
    EXPECT_FALSE(fileExists(other.file("v1_tSNR_residuals.map")));
    EXPECT_TRUE(fileExists(s.dir.file("run_min_confounds_of_motion.fmr")));
}

TEST(ComparisonRun, ARunInADottedFolderKeepsItsCleanedRunsThere) {
    Scenario s;
    hosttest::TempDir other;
    const std::string folder = other.file("runs.v2");
    std::filesystem::create_directories(folder);
    // A run file without an extension: the only '.' of its path is the folder's.
    std::filesystem::copy_file(s.dir.file("run.fmr"), folder + "/run");
    std::filesystem::copy_file(s.dir.file("run.stc"), folder + "/run.stc");
    ASSERT_EQ(s.run(noMaps({"--fmr", folder + "/run", "--set", "residuals1=1"})).status, 0);
    EXPECT_TRUE(fileExists(folder + "/run_min_confounds_of_model1"));
    EXPECT_TRUE(fileExists(folder + "/run_min_confounds_of_model1.stc"));
    EXPECT_FALSE(std::filesystem::exists(other.file("runs_min_confounds_of_model1.v2")));
}

TEST(ComparisonRun, MissingSlicesEndTheRunButKeepEarlierOutputs) {
    Scenario s;
    hosttest::Outcome o = s.run({"--map-null", "--set", "residuals1=1"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Error: assertion failure (quorvex:169): slices != nullptr\n");
    EXPECT_TRUE(fileExists(s.dir.file("run_min_confounds_of_model1.stc")));
    EXPECT_FALSE(fileExists(s.dir.file("model1_tSNR_residuals.map")));

    o = s.run({"--map-dims", "4,3,3"});
    EXPECT_EQ(o.err, "Error: assertion failure (quorvex:170): dim.z == header.DimZ\n");
    o = s.run({"--map-dims", "5,3,2"});
    EXPECT_EQ(o.err, "Error: assertion failure (quorvex:172): dim.x == header.DimX\n");
}

TEST(ComparisonRun, MissingHostServiceIsAnErrorNamingIt) {
    Scenario s;
    const hosttest::Outcome o = s.run({"--without", "cvSaveMAPsOfCurrentFMR"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Error: Corvantis does not provide the service cvSaveMAPsOfCurrentFMR\n");
}

TEST(ComparisonRun, CrlfDesignFilesReadTheSame) {
    Scenario s;
    ASSERT_EQ(s.run(noMaps({"--set", "tSNR2=1"})).status, 0);
    const std::string lf = readFile(s.dir.file("model2_tSNR_residuals.map"));
    itest::writeDesign(s.sdm2, s.model2, "\r\n");
    ASSERT_EQ(s.run(noMaps({"--set", "tSNR2=1"})).status, 0);
    EXPECT_EQ(readFile(s.dir.file("model2_tSNR_residuals.map")), lf);
}
