// The compare command end to end on a generated run with a pipeline-style
// confounds table in raw scanner units, judged against an independent float64
// reference in Python (statsmodels, scipy, nibabel).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostTestSupport.h"
#include "host/formats/NiftiImage.h"

namespace {

using hosttest::Outcome;
using nlohmann::json;

const char kPython[] = "/usr/bin/python3";
const std::string kScripts = COMPARE_TEST_SCRIPTS;

std::string pythonMissing() {
    static const std::string missing = [] {
        const Outcome probe = hosttest::runProgram(kPython, {"-c", "import nibabel, numpy, scipy, statsmodels"});
        return probe.status == 0 ? std::string()
                                 : "python3 with nibabel, scipy and statsmodels is needed: " + probe.err;
    }();
    return missing;
}

#define SKIP_WITHOUT_PYTHON() \
    do { \
        if (!pythonMissing().empty()) GTEST_SKIP() << pythonMissing(); \
    } while (false)

// Named after the run and the strategies: RUN_S1_vs_S2_summary.json.
bool isSummaryName(const std::string& name) {
    return name.size() > 13 && name.compare(name.size() - 13, 13, "_summary.json") == 0;
}

std::string summaryIn(const std::string& out) {
    if (hosttest::fileExists(out)) {
        for (const std::string& name : hosttest::filesIn(out)) {
            if (isSummaryName(name)) return out + "/" + name;
        }
    }
    return out + "/(no summary)";
}

json summaryOf(const std::string& out) { return json::parse(hosttest::readFile(summaryIn(out))); }

class CompareCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<testsupport::TempDir>();
        if (!pythonMissing().empty()) return;
        const Outcome made = hosttest::runProgram(kPython, {kScripts + "/make_compare_run.py", folder_->path()});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static void TearDownTestSuite() { folder_.reset(); }

    static std::string input(const std::string& name) { return folder_->file(name); }

    // compare with the generated run and table, the given models and extra options.
    static Outcome compare(const std::string& out, const std::string& model1, const std::string& model2,
                           const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {
            "compare", "--run", input("run.nii.gz"), "--model1", model1, "--model2", model2, "--out", out};
        bool tableGiven = false;
        for (const std::string& arg : extra) tableGiven = tableGiven || arg == "--confounds";
        if (!tableGiven) {
            args.push_back("--confounds");
            args.push_back(input("confounds.tsv"));
        }
        args.insert(args.end(), extra.begin(), extra.end());
        return hosttest::runProgram(hosttest::corvantisProgram(), args);
    }

    // The "name value" lines of the reference script.
    static std::map<std::string, double> reference(const std::string& mode, const std::string& out,
                                                   const std::vector<std::string>& more = {}) {
        std::vector<std::string> args = {kScripts + "/reference_fit.py", mode, out, input("run.nii.gz"),
                                         input("mask.nii.gz")};
        args.insert(args.end(), more.begin(), more.end());
        const Outcome outcome = hosttest::runProgram(kPython, args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        std::map<std::string, double> values;
        std::istringstream lines(outcome.out);
        std::string name;
        for (double value; lines >> name >> value;) values[name] = value;
        return values;
    }

    static std::unique_ptr<testsupport::TempDir> folder_;
};

std::unique_ptr<testsupport::TempDir> CompareCommand::folder_;

// The raw table: csf, white matter and global signal in the thousands, squares
// near 1e8. Standardized by default, the fuller model must behave.
TEST_F(CompareCommand, ThirtySixAgainstSixOnARawTableBehavesAndDecidesAsOnAZScoredOne) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string raw = work.file("raw");
    const Outcome ran = compare(raw, "6P", "36P", {"--mask", input("mask.nii.gz")});
    ASSERT_EQ(ran.status, 0) << ran.out << ran.err;
    EXPECT_NE(ran.out.find("108 of 192 voxels analysed (inside the mask)"), std::string::npos) << ran.out;
    const json s = summaryOf(raw);
    EXPECT_EQ(s["voxels_analysed"], 108);
    EXPECT_EQ(s["voxels_total"], 192);
    EXPECT_EQ(s["volumes"], 100);
    EXPECT_EQ(s["voxel_selection"]["method"], "mask");
    EXPECT_TRUE(s["nested"].get<bool>());
    EXPECT_EQ(s["model1"]["predictors"], 7);
    EXPECT_EQ(s["model2"]["predictors"], 37);
    EXPECT_EQ(s["f_df"], json({30, 63}));
    EXPECT_GE(s["maps"]["f"]["min"].get<double>(), 0.0) << "a negative F between nested models";
    EXPECT_GT(s["maps"]["tsnr2"]["min"].get<double>(), 0.0) << "model 2's tSNR must be positive wherever the run is";
    EXPECT_EQ(s["maps"]["tsnr2"]["voxels"], 108);
    EXPECT_LT(reference("means", raw)["mean_rel"], 1e-5) << "a cleaned run lost the data's mean";

    const std::string z = work.file("z");
    const Outcome zRan =
        compare(z, "6P", "36P", {"--mask", input("mask.nii.gz"), "--confounds", input("confounds_z.tsv")});
    ASSERT_EQ(zRan.status, 0) << zRan.err;
    const json zs = summaryOf(z);
    EXPECT_NEAR(s["share_tsnr_raised"].get<double>(), zs["share_tsnr_raised"].get<double>(), 1e-9);
    EXPECT_EQ(s["median_delta_tsnr"].get<double>() > 0, zs["median_delta_tsnr"].get<double>() > 0);
    EXPECT_NEAR(s["median_delta_tsnr"].get<double>(), zs["median_delta_tsnr"].get<double>(),
                1e-3 * std::abs(zs["median_delta_tsnr"].get<double>()));
}

// The fault the standardization removes, shown so that the checks above are
// known to see it: raw confounds carry their own means into the cleaned run.
TEST_F(CompareCommand, WithoutStandardizingTheRawTableTheCleanedRunLosesItsMean) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string out = work.file("out");
    const Outcome ran = compare(out, "6P", "36P", {"--mask", input("mask.nii.gz"), "--no-standardize"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_GT(reference("means", out)["mean_rel"], 1e-2);
}

TEST_F(CompareCommand, MapsAndPValuesMatchAFloat64Reference) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string out = work.file("out");
    const Outcome ran = compare(out, "6P", "24P", {"--mask", input("mask.nii.gz")});
    ASSERT_EQ(ran.status, 0) << ran.err;
    std::map<std::string, double> worst = reference("fit", out);
    ASSERT_EQ(worst.size(), 5u);
    EXPECT_LT(worst["tsnr_rel"], 1e-4);
    EXPECT_LT(worst["r2adj_abs"], 1e-4);
    EXPECT_LT(worst["f_rel"], 1e-4);
    EXPECT_LT(worst["p_rel"], 1e-6);
    EXPECT_LT(worst["p_ref_abs"], 1e-3);
    const json s = summaryOf(out);
    EXPECT_EQ(s["f_df"], json({18, 75}));
    EXPECT_EQ(s["maps"]["neglog10p"]["voxels"], 108);
    // The -log10(p) map says what it holds.
    const corvantis::NiftiImagePtr p =
        corvantis::readNiftiImage(out + "/" + s["maps"]["neglog10p"]["file"].get<std::string>(), false);
    EXPECT_EQ(p->intent_code, NIFTI_INTENT_LOG10PVAL);
    const int64_t surviving = s["fdr"]["voxels_surviving"];
    EXPECT_NEAR(s["share_f_survives_fdr"].get<double>(), surviving / 108.0, 1e-12);
    if (surviving > 0) {
        EXPECT_NE(ran.out.find(std::to_string(surviving) + " voxels survive"), std::string::npos) << ran.out;
    } else {
        EXPECT_NE(ran.out.find("no voxel survives"), std::string::npos) << ran.out;
    }
}

// A mask selects its voxels without changing a value inside it: the cleaned run
// equals, inside the mask, that of a run whose threshold selects the same voxels;
// outside it is 0.
TEST_F(CompareCommand, AMaskChangesNoValueInside) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string masked = work.file("masked");
    const std::string plain = work.file("plain");
    ASSERT_EQ(compare(masked, "6P", "24P", {"--mask", input("mask.nii.gz")}).status, 0);
    const Outcome thresholded = compare(plain, "6P", "24P", {"--threshold", "100"});
    ASSERT_EQ(thresholded.status, 0) << thresholded.err;
    EXPECT_EQ(summaryOf(plain)["voxels_analysed"], 108);
    EXPECT_EQ(summaryOf(plain)["voxel_selection"]["threshold"], 100.0);
    const std::string cleaned = "run_min_confounds_of_run_24P.nii.gz";
    const corvantis::NiftiImagePtr a = corvantis::readNiftiImage(masked + "/" + cleaned, true);
    const corvantis::NiftiImagePtr b = corvantis::readNiftiImage(plain + "/" + cleaned, true);
    const corvantis::NiftiImagePtr data = corvantis::readNiftiImage(input("run.nii.gz"), true);
    const corvantis::NiftiImagePtr mask = corvantis::readNiftiImage(input("mask.nii.gz"), true);
    ASSERT_EQ(a->nvox, b->nvox);
    const std::size_t voxels = mask->nvox;
    int64_t differences = 0, outsideNotZero = 0, outsideChanged = 0;
    for (std::size_t i = 0; i < a->nvox; ++i) {
        const bool inside = corvantis::scaledValue(*mask, i % voxels) != 0.0;
        const double va = corvantis::scaledValue(*a, i);
        const double vb = corvantis::scaledValue(*b, i);
        if (inside) {
            differences += va != vb;
        } else {
            outsideNotZero += va != 0.0;
            outsideChanged += vb != corvantis::scaledValue(*data, i);
        }
    }
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(outsideNotZero, 0);
    EXPECT_EQ(outsideChanged, 0) << "a threshold run keeps the data outside the analysed voxels";
}

TEST_F(CompareCommand, AutomaticThresholdIsReported) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const Outcome ran = compare(work.file("out"), "6P", "24P");
    ASSERT_EQ(ran.status, 0) << ran.err;
    const json s = summaryOf(work.file("out"));
    EXPECT_EQ(s["voxel_selection"]["method"], "threshold");
    // The background (about 10) falls below, every brain voxel (600 and up) stays above.
    EXPECT_GT(s["voxel_selection"]["threshold"].get<double>(), 20.0);
    EXPECT_EQ(s["voxels_analysed"], 108);
    EXPECT_NE(ran.out.find("Automatic threshold"), std::string::npos);
}

TEST_F(CompareCommand, ModelsThatAreNotNestedGetNoFTest) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string out = work.file("out");
    const Outcome ran = compare(out, "wm_csf=basic", "6P", {"--mask", input("mask.nii.gz")});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const json s = summaryOf(out);
    EXPECT_FALSE(s["nested"].get<bool>());
    EXPECT_TRUE(s["f_df"].is_null());
    EXPECT_TRUE(s["share_f_survives_fdr"].is_null());
    EXPECT_FALSE(s["maps"].contains("f"));
    EXPECT_FALSE(s["maps"].contains("neglog10p"));
    EXPECT_TRUE(s["maps"].contains("delta_tsnr"));
    EXPECT_TRUE(s["maps"].contains("delta_r2adj"));
    EXPECT_FALSE(s["warnings"].empty());
    for (const std::string& name : hosttest::filesIn(out)) {
        EXPECT_EQ(name.find("Fval"), std::string::npos) << name;
    }
}

TEST_F(CompareCommand, ModelOneFullerIsRefusedWithTheHintToSwap) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string out = work.file("out");
    const Outcome ran = compare(out, "36P", "6P", {"--mask", input("mask.nii.gz")});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("swap"), std::string::npos) << ran.err;
    EXPECT_FALSE(hosttest::fileExists(summaryIn(out)));
    EXPECT_TRUE(!hosttest::fileExists(out) || hosttest::filesIn(out).empty());
}

TEST_F(CompareCommand, NoResidualDegreesOfFreedomIsRefused) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir short20;
    const Outcome made = hosttest::runProgram(kPython, {kScripts + "/make_compare_run.py", short20.path(), "20"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string out = short20.file("out");
    const Outcome ran =
        hosttest::runProgram(hosttest::corvantisProgram(),
                             {"compare", "--run", short20.file("run.nii.gz"), "--confounds",
                              short20.file("confounds.tsv"), "--model1", "6P", "--model2", "36P", "--out", out});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("degrees of freedom"), std::string::npos) << ran.err;
    EXPECT_TRUE(!hosttest::fileExists(out) || hosttest::filesIn(out).empty());
}

TEST_F(CompareCommand, ADuplicatedColumnIsReportedByRank) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string out = work.file("out");
    const Outcome ran = compare(out, "6P", "6P,spare_a,spare_b", {"--mask", input("mask.nii.gz")});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const json s = summaryOf(out);
    // spare_b repeats spare_a: it is left out, and the F test has one new direction, not two.
    EXPECT_EQ(s["model2"]["predictors"], 8);
    EXPECT_EQ(s["model2"]["rank"], 8);
    EXPECT_EQ(s["model2"]["columns_left_out"], json({"spare_b"}));
    EXPECT_EQ(s["model2"]["residual_df"], 92);
    EXPECT_EQ(s["f_df"], json({1, 92}));
    bool named = false;
    for (const json& warning : s["warnings"])
        named = named || warning.get<std::string>().find("spare_b") != std::string::npos;
    EXPECT_TRUE(named) << s["warnings"].dump();
    // The p-values follow the rank's F test, not the plug-in's count of columns.
    EXPECT_LT(reference("fit", out)["p_ref_abs"], 1e-3);
}

bool anyWarningHas(const json& warnings, const std::string& text) {
    for (const json& warning : warnings) {
        if (warning.get<std::string>().find(text) != std::string::npos) return true;
    }
    return false;
}

// Model 2 holds rot_x a second time, in degrees to 6 significant digits, and a
// column the voxels do not hold. The copy is left out before the fit, so the F
// test is the one of the model with the unrelated column, F(1, 92), and its
// -log10 p agrees with a float64 statsmodels fit of that model built straight
// from the table. The plug-in fits in single precision: its residual sums are
// good to about 1e-5 of themselves, so F (their difference over RSS2 / 92) to
// about 1e-3 in absolute terms (1.3e-4 here). -log10 p of F(1, 92) is about
// 0.35 sqrt(F) near F = 0, where it is most sensitive, so such an error moves it
// by at most 0.35 sqrt(dF), under 4e-3 at dF = 1.3e-4 and far less away from 0;
// 2e-3 is met with room (7.5e-4) and is far below what a wrong F gives.
TEST_F(CompareCommand, ARescaledCopyIsLeftOutAndTheFTestMatchesAFloat64Reference) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string out = work.file("out");
    const std::string motion = "trans_x,trans_y,trans_z,rot_x,rot_y,rot_z";
    const Outcome ran = compare(out, "6P", "6P,rot_x_deg,unrelated",
                                {"--mask", input("mask.nii.gz"), "--confounds", input("confounds_copy.tsv")});
    ASSERT_EQ(ran.status, 0) << ran.out << ran.err;
    const json s = summaryOf(out);
    EXPECT_EQ(s["model2"]["columns"], json({"trans_x", "trans_y", "trans_z", "rot_x", "rot_y", "rot_z", "unrelated",
                                            "Constant"}));
    EXPECT_EQ(s["model2"]["columns_left_out"], json({"rot_x_deg"}));
    EXPECT_EQ(s["model1"]["columns_left_out"], json::array());
    EXPECT_EQ(s["model2"]["predictors"], 8);
    EXPECT_EQ(s["model2"]["rank"], 8);
    EXPECT_EQ(s["f_df"], json({1, 92}));
    EXPECT_TRUE(anyWarningHas(s["warnings"], "model 2 is rank deficient (rank 8 of 9 columns): \"rot_x_deg\" is a "
                                             "linear combination of the columns before it and is left out, so the "
                                             "model is fitted with 8 columns"))
        << s["warnings"].dump();
    const json record = json::parse(hosttest::readFile(out + "/run_6P+rot_x_deg+unrelated.json"));
    EXPECT_EQ(record["columns_left_out"], json({"rot_x_deg"}));
    EXPECT_EQ(record["predictors"], 8);
    EXPECT_EQ(record["columns"].size(), 8u);

    std::map<std::string, double> r =
        reference("table", out, {input("confounds_copy.tsv"), motion, motion + ",unrelated"});
    std::cout << "reference: df " << r["df_num"] << ", " << r["df_denom"] << "; largest |d -log10 p| " << r["p_abs"]
              << " (reference -log10 p up to " << r["p_max"] << "), voxels over 1e-3: " << r["p_worst_voxels"]
              << "; largest |d F| " << r["f_abs"]
              << "; smallest F " << r["f_min"] << ", smallest -log10 p " << r["neglog10p_min"] << "\n";
    EXPECT_EQ(r["df_num"], 1.0);
    EXPECT_EQ(r["df_denom"], 92.0);
    EXPECT_LT(r["f_abs"], 1e-3);
    EXPECT_LT(r["p_abs"], 2e-3);
    EXPECT_GE(r["f_min"], 0.0) << "a negative F between nested models";
    EXPECT_GE(r["neglog10p_min"], 0.0);
}

TEST_F(CompareCommand, CommandLineMistakes) {
    const testsupport::TempDir work;
    const std::string program = hosttest::corvantisProgram();
    EXPECT_EQ(hosttest::runProgram(program, {"compare", "--run", "r.nii.gz"}).status, 2);
    const Outcome q = hosttest::runProgram(program, {"compare", "--run", "r", "--confounds", "c", "--model1", "6P",
                                                     "--model2", "24P", "--out", work.path(), "--fdr-q", "1.5"});
    EXPECT_EQ(q.status, 2);
    EXPECT_NE(q.err.find("--fdr-q takes a number between 0 and 1, not \"1.5\""), std::string::npos) << q.err;
    const Outcome both =
        hosttest::runProgram(program, {"compare", "--run", "r", "--confounds", "c", "--model1", "6P", "--model2", "24P",
                                       "--out", work.path(), "--mask", "m", "--threshold", "3"});
    EXPECT_EQ(both.status, 2);
    const Outcome missing =
        hosttest::runProgram(program, {"compare", "--run", work.file("none.nii.gz"), "--confounds", "c", "--model1",
                                       "6P", "--model2", "24P", "--out", work.file("out")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(hosttest::fileExists(work.file("out")));
}

} // namespace

namespace {

TEST_F(CompareCommand, EventsBecomeRegressorsOfInterestInBothModels) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string events = work.write("events.tsv",
                                          "onset\tduration\ttrial_type\n10\t20\tgo\n60\t20\tstop\n"
                                          "110\t20\tgo\n160\t15\tstop\n");
    const std::string out = work.file("out");
    const Outcome ran = compare(out, "6P", "24P", {"--mask", input("mask.nii.gz"), "--events", events});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const json s = summaryOf(out);
    EXPECT_EQ(s["events"], events);
    EXPECT_EQ(s["model1"]["columns"],
              json({"go", "stop", "trans_x", "trans_y", "trans_z", "rot_x", "rot_y", "rot_z", "Constant"}));
    EXPECT_EQ(s["model2"]["predictors"], 27);
    EXPECT_EQ(s["f_df"], json({18, 73}));
}

// The run with its header's TR set to 0 (unknown), written into folder.
std::string runWithoutTr(const std::string& run, const std::string& folder) {
    const std::string path = folder + "/sub-01_task-go_bold.nii.gz";
    const Outcome made = hosttest::runProgram(
        kPython, {"-c",
                  "import sys, nibabel\n"
                  "image = nibabel.load(sys.argv[1])\n"
                  "header = image.header.copy()\n"
                  "header['pixdim'][4] = 0\n"
                  "nibabel.save(nibabel.Nifti1Image(image.get_fdata(dtype='float32'), image.affine, header), "
                  "sys.argv[2])\n",
                  run, path});
    EXPECT_EQ(made.status, 0) << made.err;
    return path;
}

// A header TR of 0 is unknown: events then need --tr or the run's sidecar, and
// with either the design is the one a header TR of 2 s gives. Without events
// nothing needs the TR. A --tr that differs from the run's is refused.
TEST_F(CompareCommand, AnUnknownTrComesFromTrOrTheSidecarAndIsNeededOnlyForEvents) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string events = work.write("events.tsv",
                                          "onset\tduration\ttrial_type\n10\t20\tgo\n60\t20\tstop\n"
                                          "110\t20\tgo\n160\t15\tstop\n");
    const std::string run = runWithoutTr(input("run.nii.gz"), work.path());
    const std::string sidecar = work.file("sub-01_task-go_bold.json");
    const auto compareRun = [&](const std::string& path, const std::string& out, std::vector<std::string> extra) {
        std::vector<std::string> args = {"compare", "--run", path, "--confounds", input("confounds.tsv"),
                                         "--model1", "6P", "--model2", "24P", "--out", out, "--mask",
                                         input("mask.nii.gz")};
        args.insert(args.end(), extra.begin(), extra.end());
        return hosttest::runProgram(hosttest::corvantisProgram(), args);
    };
    const Outcome known = compareRun(input("run.nii.gz"), work.file("known"), {"--events", events});
    ASSERT_EQ(known.status, 0) << known.err;
    const std::string knownDesign = hosttest::readFile(work.file("known") + "/run_24P.sdm");

    const Outcome unknown = compareRun(run, work.file("unknown"), {"--events", events});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("the events of \"" + events + "\" need the run's repetition time (TR): the header of \"" +
                               run + "\" gives no TR (0: unknown) and no sidecar \"" + sidecar +
                               "\" gives a RepetitionTime; give --tr SECONDS"),
              std::string::npos)
        << unknown.err;
    EXPECT_TRUE(!hosttest::fileExists(work.file("unknown")) || hosttest::filesIn(work.file("unknown")).empty());

    const Outcome given = compareRun(run, work.file("given"), {"--events", events, "--tr", "2"});
    ASSERT_EQ(given.status, 0) << given.err;
    EXPECT_EQ(hosttest::readFile(work.file("given") + "/sub-01_task-go_bold_24P.sdm"), knownDesign);
    EXPECT_EQ(json::parse(hosttest::readFile(work.file("given") + "/sub-01_task-go_bold_24P.json"))["tr_seconds"], 2.0);

    hosttest::writeFile(sidecar, "{\"RepetitionTime\": 2.0, \"TaskName\": \"go\"}\n");
    const Outcome side = compareRun(run, work.file("side"), {"--events", events});
    ASSERT_EQ(side.status, 0) << side.err;
    EXPECT_EQ(hosttest::readFile(work.file("side") + "/sub-01_task-go_bold_24P.sdm"), knownDesign);
    std::remove(sidecar.c_str());

    const Outcome none = compareRun(run, work.file("none"), {});
    ASSERT_EQ(none.status, 0) << none.err;
    EXPECT_TRUE(json::parse(hosttest::readFile(work.file("none") + "/sub-01_task-go_bold_24P.json"))["tr_seconds"]
                    .is_null());

    const Outcome differs = compareRun(input("run.nii.gz"), work.file("differs"), {"--events", events, "--tr", "3"});
    EXPECT_EQ(differs.status, 1);
    EXPECT_NE(differs.err.find("--tr 3 differs from the run's TR of 2 s (the header of \"" + input("run.nii.gz") +
                               "\"); leave --tr out to use the run's"),
              std::string::npos)
        << differs.err;
    EXPECT_EQ(compareRun(run, work.file("bad"), {"--tr", "0"}).status, 2);
}

// An input in the output folder named as an output (here the events table named
// as model 1's design record) is refused, and stays as it was.
TEST_F(CompareCommand, NoOutputReplacesAnInput) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string text = "onset\tduration\ttrial_type\n10\t20\tgo\n";
    const std::string events = work.write("run_6P.json", text);
    const Outcome ran = hosttest::runProgram(
        hosttest::corvantisProgram(), {"compare", "--run", input("run.nii.gz"), "--confounds", input("confounds.tsv"),
                                       "--events", events, "--model1", "6P", "--model2", "24P", "--out", work.path()});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("would replace the input \"" + events + "\""), std::string::npos) << ran.err;
    EXPECT_EQ(hosttest::readFile(events), text);
    EXPECT_EQ(hosttest::filesIn(work.path()), std::vector<std::string>{"run_6P.json"});
}

// An .fmr run's comparison is written in the host's formats: .map files and
// cleaned .fmr/.stc pairs.
TEST(CompareFmrRun, WritesMapsAndRunsInTheHostsFormats) {
    const testsupport::TempDir work;
    const int volumes = 40, voxels = 4 * 4 * 2;
    std::vector<float> values;
    std::string table = "trans_x\ttrans_y\ttrans_z\trot_x\trot_y\trot_z\n";
    for (int v = 0; v < volumes; ++v) {
        for (int c = 0; c < 6; ++c) table += (c ? "\t" : "") + std::to_string(std::sin(0.3 * v * (c + 1) + c));
        table += "\n";
        for (int l = 0; l < voxels; ++l) {
            values.push_back(
                static_cast<float>(500 + 10 * l + 7 * std::sin(0.3 * v * (l % 6 + 1) + l % 6) + std::cos(1.7 * v * l)));
        }
    }
    const std::string run =
        hosttest::writeRun(work.path(), "run", 4, 4, 2, volumes, 2, hosttest::floatBytes(values), "TR: 2000\n");
    const std::string confounds = work.write("confounds.tsv", table);
    const std::string out = work.file("out");
    const Outcome ran = hosttest::runProgram(hosttest::corvantisProgram(),
                                             {"compare", "--run", run, "--confounds", confounds, "--model1",
                                              "trans_x,trans_y", "--model2", "6P", "--out", out, "--threshold", "100"});
    ASSERT_EQ(ran.status, 0) << ran.out << ran.err;
    const json s = summaryOf(out);
    EXPECT_EQ(s["voxels_analysed"], voxels);
    EXPECT_EQ(s["f_df"], json({4, 33}));
    for (const char* file :
         {"run_6P_Fval_diff_run_trans_x+trans_y.map", "run_6P_Fval_diff_run_trans_x+trans_y_neglog10p.map",
          "run_6P_tSNR_residuals.map", "run_min_confounds_of_run_6P.fmr", "run_min_confounds_of_run_6P.stc",
          "run_min_confounds_of_run_trans_x+trans_y.fmr"}) {
        EXPECT_TRUE(hosttest::fileExists(out + "/" + file)) << file;
    }
    EXPECT_EQ(s["maps"]["neglog10p"]["file"], "run_6P_Fval_diff_run_trans_x+trans_y_neglog10p.map");
    for (const std::string& name : hosttest::filesIn(out)) EXPECT_EQ(name.find(".nii"), std::string::npos) << name;
    EXPECT_TRUE(hosttest::fileExists(out + "/run_trans_x+trans_y_vs_6P_summary.json"));
    // Made under a short name, the cleaned run names its time courses by their real name.
    const std::string cleaned = hosttest::readFile(out + "/run_min_confounds_of_run_6P.fmr");
    EXPECT_NE(cleaned.find("run_min_confounds_of_run_6P.stc"), std::string::npos) << cleaned;
    EXPECT_EQ(cleaned.find("model"), std::string::npos) << cleaned;
}

} // namespace

namespace {

// 37 predictors on 40 volumes: 3 residual df, run but warned about, in the
// summary too; a stricter q lets fewer voxels through.
TEST(CompareShortRun, FewResidualDegreesOfFreedomAreWarnedAboutAndQIsHonoured) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const Outcome made = hosttest::runProgram(kPython, {kScripts + "/make_compare_run.py", work.path(), "40"});
    ASSERT_EQ(made.status, 0) << made.err;
    std::map<std::string, json> summaries;
    for (const std::string q : {"0.05", "0.001"}) {
        const std::string out = work.file("out" + q);
        const Outcome ran =
            hosttest::runProgram(hosttest::corvantisProgram(), {"compare", "--run", work.file("run.nii.gz"),
                                                                "--confounds", work.file("confounds.tsv"), "--model1",
                                                                "6P", "--model2", "36P", "--out", out, "--fdr-q", q});
        ASSERT_EQ(ran.status, 0) << ran.err;
        EXPECT_NE(ran.out.find("Warning: model 2 leaves only 3 residual degrees of freedom"), std::string::npos)
            << ran.out;
        summaries[q] = summaryOf(out);
    }
    const json& loose = summaries["0.05"];
    const json& strict = summaries["0.001"];
    EXPECT_EQ(loose["model2"]["residual_df"], 3);
    EXPECT_EQ(loose["f_df"], json({30, 3}));
    ASSERT_EQ(loose["warnings"].size(), 1u);
    EXPECT_NE(loose["warnings"][0].get<std::string>().find("3 residual degrees of freedom"), std::string::npos);
    EXPECT_EQ(strict["fdr"]["q"], 0.001);
    EXPECT_LT(strict["fdr"]["voxels_surviving"].get<int64_t>(), loose["fdr"]["voxels_surviving"].get<int64_t>());
    EXPECT_GT(loose["fdr"]["voxels_surviving"].get<int64_t>(), 0);
}

} // namespace

namespace {

// Demeaned data (values below 0 inside the mask) cannot be told from the
// outside by a threshold: the outside is handed over as NaN, the mask still
// selects exactly its voxels, and the cleaned runs say so by NaN outside.
TEST_F(CompareCommand, AMaskSelectsExactlyItsVoxelsOfARunWithValuesBelowZero) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string demeaned = work.file("demeaned.nii.gz");
    const Outcome made = hosttest::runProgram(
        kPython, {"-c",
                  "import sys, nibabel, numpy as np\n"
                  "im = nibabel.load(sys.argv[1]); d = np.asarray(im.dataobj)\n"
                  "d = d - d.mean(axis=3, keepdims=True)\n"
                  "nibabel.save(nibabel.Nifti1Image(d.astype(np.float32), im.affine, im.header), sys.argv[2])\n",
                  input("run.nii.gz"), demeaned});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string out = work.file("out");
    const Outcome ran = hosttest::runProgram(
        hosttest::corvantisProgram(), {"compare", "--run", demeaned, "--confounds", input("confounds.tsv"), "--mask",
                                       input("mask.nii.gz"), "--model1", "6P", "--model2", "24P", "--out", out});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const json s = summaryOf(out);
    EXPECT_EQ(s["voxels_analysed"], 108);
    EXPECT_EQ(s["warnings"], json({"the run has values at or below 0 inside the mask; voxels outside the mask are NaN "
                                   "in the cleaned runs"}));
    const corvantis::NiftiImagePtr cleaned =
        corvantis::readNiftiImage(out + "/demeaned_min_confounds_of_demeaned_24P.nii.gz", true);
    const corvantis::NiftiImagePtr mask = corvantis::readNiftiImage(input("mask.nii.gz"), true);
    int64_t wrong = 0;
    for (std::size_t i = 0; i < cleaned->nvox; ++i) {
        const bool inside = corvantis::scaledValue(*mask, i % mask->nvox) != 0.0;
        wrong += inside != std::isfinite(corvantis::scaledValue(*cleaned, i));
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace

namespace {

// Nested, model 2 spans more, and model 1's repeated column would give it as
// many columns: with the repeat left out model 2 has one more, and the F test
// is made on the designs fitted.
TEST_F(CompareCommand, ARepeatedColumnOfModel1IsLeftOutSoTheFTestIsMade) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string out = work.file("out");
    const Outcome ran = compare(out, "6P,spare_a,spare_b", "6P,spare_a,cosine00", {"--mask", input("mask.nii.gz")});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const json s = summaryOf(out);
    EXPECT_TRUE(s["nested"].get<bool>());
    EXPECT_EQ(s["model1"]["columns_left_out"], json({"spare_b"}));
    EXPECT_EQ(s["model1"]["predictors"], 8);
    EXPECT_EQ(s["f_df"], json({1, 91}));
    EXPECT_TRUE(s["maps"].contains("neglog10p"));
    EXPECT_LT(reference("fit", out)["p_ref_abs"], 1e-3);
}

} // namespace

namespace {

namespace fs = std::filesystem;

const char kPipelineRun[] =
    "sub-01_ses-01_task-rest_acq-mb4_dir-PA_run-1_space-MNI152NLin2009cAsym_res-2_desc-preproc_bold";

// A folder of that many bytes in its absolute path, made.
std::string folderOfLength(const testsupport::TempDir& work, std::size_t length) {
    std::string folder = work.file("o");
    while (folder.size() < length) folder += (folder.size() % 60 == 0 ? "/" : "o");
    folder.resize(length);
    if (folder.back() == '/') folder.back() = 'o';
    fs::create_directories(folder);
    return folder;
}

// A pipeline's ordinary run name, twice in some outputs' names, in a folder of
// 350 bytes: the plug-in's paths once outgrew the run header's 303 bytes.
TEST_F(CompareCommand, APipelineRunNameWorksInAnOutputFolderOf350Bytes) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string run = work.file(std::string(kPipelineRun) + ".nii.gz");
    fs::copy_file(input("run.nii.gz"), run);
    const std::string out = folderOfLength(work, 350);
    const Outcome ran = hosttest::runProgram(
        hosttest::corvantisProgram(), {"compare", "--run", run, "--confounds", input("confounds.tsv"), "--model1",
                                       "24P", "--model2", "36P", "--mask", input("mask.nii.gz"), "--out", out});
    ASSERT_EQ(ran.status, 0) << ran.out << ran.err;
    const std::string r = kPipelineRun;
    const std::vector<std::string> expected = {r + "_24P.sdm",
                                               r + "_24P.json",
                                               r + "_36P.sdm",
                                               r + "_36P.json",
                                               r + "_min_confounds_of_" + r + "_24P.nii.gz",
                                               r + "_min_confounds_of_" + r + "_36P.nii.gz",
                                               r + "_24P_tSNR_residuals.nii.gz",
                                               r + "_36P_tSNR_residuals.nii.gz",
                                               r + "_36P_tSNR_diff_" + r + "_24P.nii.gz",
                                               r + "_24P_R2adj.nii.gz",
                                               r + "_36P_R2adj.nii.gz",
                                               r + "_36P_R2adj_diff_" + r + "_24P.nii.gz",
                                               r + "_36P_Fval_diff_" + r + "_24P.nii.gz",
                                               r + "_36P_Fval_diff_" + r + "_24P_neglog10p.nii.gz",
                                               r + "_24P_vs_36P_summary.json"};
    std::vector<std::string> sortedExpected = expected;
    std::sort(sortedExpected.begin(), sortedExpected.end());
    std::vector<std::string> written = hosttest::filesIn(out);
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, sortedExpected) << "no working folder or staged name is left";
    const json s = json::parse(hosttest::readFile(out + "/" + r + "_24P_vs_36P_summary.json"));
    EXPECT_EQ(s["outputs"].back(), r + "_24P_vs_36P_summary.json");
    EXPECT_EQ(s["outputs"].size(), expected.size());
    EXPECT_EQ(s["maps"]["neglog10p"]["file"], r + "_36P_Fval_diff_" + r + "_24P_neglog10p.nii.gz");
    EXPECT_EQ(s["model1"]["design"], r + "_24P.sdm");
    EXPECT_EQ(s["voxels_analysed"], 108);
    // The cleaned run holds the run cleaned, whatever name it was made under.
    EXPECT_LT(reference("means", out)["mean_rel"], 1e-5);
}

// Two pairs of strategies in one folder: each keeps its own summary beside its maps.
TEST_F(CompareCommand, TwoComparisonsInOneFolderKeepTheirOwnSummaries) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string out = work.file("out");
    ASSERT_EQ(compare(out, "6P", "36P", {"--mask", input("mask.nii.gz")}).status, 0);
    ASSERT_EQ(compare(out, "24P", "36P", {"--mask", input("mask.nii.gz")}).status, 0);
    const json first = json::parse(hosttest::readFile(out + "/run_6P_vs_36P_summary.json"));
    const json second = json::parse(hosttest::readFile(out + "/run_24P_vs_36P_summary.json"));
    EXPECT_EQ(first["model1"]["strategy"], "6P");
    EXPECT_EQ(second["model1"]["strategy"], "24P");
    for (const json* s : {&first, &second}) {
        for (const json& name : (*s)["outputs"]) {
            EXPECT_TRUE(hosttest::fileExists(out + "/" + name.get<std::string>())) << name;
        }
    }
    EXPECT_FALSE(hosttest::fileExists(out + "/summary.json"));
}

// A column named in Latin-1 once stopped the summary's writer after the maps
// were in place; it is carried with its byte escaped, in the summary and in
// the design's record alike.
TEST_F(CompareCommand, ALatin1ColumnNameIsCarriedEscaped) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    std::istringstream table(hosttest::readFile(input("confounds.tsv")));
    std::string latin1, line;
    for (int row = 0; std::getline(table, line); ++row) {
        latin1 += line + (row == 0 ? std::string("\tcaf\xe9") : "\t" + std::to_string(row % 7)) + "\n";
    }
    hosttest::writeFile(work.file("latin1.tsv"), latin1);
    const std::string out = work.file("out");
    const Outcome ran =
        compare(out, "6P", "6P,caf\xe9", {"--mask", input("mask.nii.gz"), "--confounds", work.file("latin1.tsv")});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const json s = json::parse(hosttest::readFile(out + "/run_6P_vs_6P+caf-_summary.json"));
    const json& columns = s["model2"]["columns"];
    EXPECT_NE(std::find(columns.begin(), columns.end(), json("caf\\xE9")), columns.end()) << columns.dump();
    EXPECT_EQ(s["model2"]["strategy"], "6P,caf\\xE9");
    const json record = json::parse(hosttest::readFile(out + "/run_6P+caf-.json"));
    EXPECT_NE(record.dump().find("caf\\\\xE9"), std::string::npos) << record.dump();
}

// A run file named in Latin-1: its outputs are named after the printable name.
TEST_F(CompareCommand, ALatin1RunNameNamesTheOutputsEscaped) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string run = work.file("caf\xe9.nii.gz");
    fs::copy_file(input("run.nii.gz"), run);
    const std::string out = work.file("out");
    const Outcome ran = hosttest::runProgram(
        hosttest::corvantisProgram(), {"compare", "--run", run, "--confounds", input("confounds.tsv"), "--model1", "6P",
                                       "--model2", "24P", "--mask", input("mask.nii.gz"), "--out", out});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const json s = json::parse(hosttest::readFile(out + "/caf\\xE9_6P_vs_24P_summary.json"));
    EXPECT_EQ(s["run"], work.file("caf\\xE9.nii.gz"));
    for (const json& name : s["outputs"]) EXPECT_TRUE(hosttest::fileExists(out + "/" + name.get<std::string>()));
}

// The last move fails (a folder holds the summary's name): every file moved
// before it goes back, and an earlier output it replaced is there again.
TEST_F(CompareCommand, AFailureWhileMovingIntoPlaceLeavesTheFolderAsItWas) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string out = work.file("out");
    fs::create_directories(out + "/run_6P_vs_24P_summary.json");
    hosttest::writeFile(out + "/run_6P_vs_24P_summary.json/kept", "kept");
    hosttest::writeFile(out + "/run_6P.sdm", "an earlier design");
    const Outcome ran = compare(out, "6P", "24P", {"--mask", input("mask.nii.gz")});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("run_6P_vs_24P_summary.json\": a folder of that name is in the way"), std::string::npos)
        << ran.err;
    std::vector<std::string> left = hosttest::filesIn(out);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"run_6P.sdm", "run_6P_vs_24P_summary.json"}));
    EXPECT_EQ(hosttest::readFile(out + "/run_6P.sdm"), "an earlier design");
    EXPECT_EQ(hosttest::readFile(out + "/run_6P_vs_24P_summary.json/kept"), "kept");
}

} // namespace

namespace {

// A run name that, twice in an output's name, outgrows a file name: refused
// before anything runs, naming the output, and the folder is left empty.
TEST_F(CompareCommand, ARunNameTooLongForItsOutputsIsRefusedBeforeAnythingRuns) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::string stem = "sub-01_acq-" + std::string(120, 'x') + "_bold";
    const std::string run = work.file(stem + ".nii.gz");
    std::filesystem::copy_file(input("run.nii.gz"), run);
    const std::string out = work.file("out");
    const Outcome ran = hosttest::runProgram(
        hosttest::corvantisProgram(), {"compare", "--run", run, "--confounds", input("confounds.tsv"), "--model1", "6P",
                                       "--model2", "24P", "--mask", input("mask.nii.gz"), "--out", out});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("\"" + stem + "_min_confounds_of_" + stem +
                           "_6P.nii.gz\" would have 300 bytes in its name, "
                           "more than the 255 that \"" +
                           out + "\" takes; give the run a shorter file name"),
              std::string::npos)
        << ran.err;
    EXPECT_TRUE(hosttest::filesIn(out).empty());
    EXPECT_EQ(ran.out.find("Comparing"), std::string::npos) << "refused before the plug-in runs";
}

} // namespace

namespace {

// The files of a compare's output folder with their bytes, summary.json without its timings.
std::map<std::string, std::string> outputsOf(const std::string& out) {
    std::map<std::string, std::string> files;
    for (const std::string& name : hosttest::filesIn(out)) {
        std::string bytes = hosttest::readFile(out + "/" + name);
        if (isSummaryName(name)) {
            json summary = json::parse(bytes);
            summary.erase("timings");
            bytes = summary.dump();
        }
        files[name] = bytes;
    }
    return files;
}

TEST_F(CompareCommand, TheCleanedRunsWrittenAreChosenAndTheMapsStayTheSame) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    const std::vector<std::string> mask = {"--mask", input("mask.nii.gz")};
    std::map<std::string, std::map<std::string, std::string>> runs;
    for (const std::string which : {"default", "none", "model1", "model2", "both"}) {
        std::vector<std::string> extra = mask;
        if (which != "default") extra.insert(extra.end(), {"--cleaned-runs", which});
        const Outcome ran = compare(work.file(which), "6P", "36P", extra);
        ASSERT_EQ(ran.status, 0) << ran.err;
        runs[which] = outputsOf(work.file(which));
    }
    const auto cleaned = [](const std::map<std::string, std::string>& files) {
        std::vector<std::string> names;
        for (const auto& [name, bytes] : files) {
            if (name.find("_min_confounds_of_") != std::string::npos) names.push_back(name);
        }
        return names;
    };
    const std::string one = "run_min_confounds_of_run_6P.nii.gz", two = "run_min_confounds_of_run_36P.nii.gz";
    EXPECT_EQ(cleaned(runs["default"]), (std::vector<std::string>{two, one}));
    EXPECT_EQ(cleaned(runs["both"]), (std::vector<std::string>{two, one}));
    EXPECT_EQ(cleaned(runs["none"]), std::vector<std::string>{});
    EXPECT_EQ(cleaned(runs["model1"]), std::vector<std::string>{one});
    EXPECT_EQ(cleaned(runs["model2"]), std::vector<std::string>{two});
    // Every other file is the same byte for byte, the summary's numbers too; only its list of files differs.
    for (const auto& [which, files] : runs) {
        std::map<std::string, std::string> rest = files, expected = runs["both"];
        for (auto* m : {&rest, &expected}) {
            for (const std::string& name : {one, two}) m->erase(name);
            const std::string name = "run_6P_vs_36P_summary.json";
            json summary = json::parse(m->at(name));
            summary.erase("outputs");
            (*m)[name] = summary.dump();
        }
        EXPECT_TRUE(rest == expected) << which;
    }
    const Outcome wrong = compare(work.file("wrong"), "6P", "36P", {"--cleaned-runs", "model3"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("--cleaned-runs takes none|model1|model2|both, not \"model3\""), std::string::npos)
        << wrong.err;
}

TEST_F(CompareCommand, SyncWritesTheSameBytes) {
    SKIP_WITHOUT_PYTHON();
    const testsupport::TempDir work;
    ASSERT_EQ(compare(work.file("plain"), "6P", "24P", {"--mask", input("mask.nii.gz")}).status, 0);
    const Outcome synced = compare(work.file("sync"), "6P", "24P", {"--mask", input("mask.nii.gz"), "--sync"});
    ASSERT_EQ(synced.status, 0) << synced.err;
    const auto plain = outputsOf(work.file("plain")), flushed = outputsOf(work.file("sync"));
    EXPECT_EQ(plain.size(), 15u);
    EXPECT_TRUE(plain == flushed);
}

} // namespace
