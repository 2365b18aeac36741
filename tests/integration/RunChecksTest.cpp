// The refusals a comparison run makes before it computes or writes anything:
// models with no residual degree of freedom, and outputs that would replace
// one another.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Scenario.h"

using hosttest::fileExists;
using hosttest::filesIn;
using itest::Design;
using itest::Scenario;

namespace {

// A design of k columns over the scenario's volumes; the plug-in adds the constant.
Design designOfColumns(const Scenario& s, int k) {
    Design design;
    design.firstConfound = 2;
    for (int j = 0; j < k; ++j) {
        std::vector<float> column;
        for (int t = 0; t < s.volumes; ++t) {
            // Distinct, not collinear with each other or the constant.
            column.push_back(static_cast<float>(((t + 1) * (j + 3)) % (7 + j)) +
                             0.25f * static_cast<float>(t % (j + 2)));
        }
        design.columns.push_back(column);
    }
    return design;
}

std::vector<std::string> withDesigns(const std::string& sdm1, const std::string& sdm2,
                                     std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--set", "sdmfile1=" + sdm1, "--set", "sdmfile2=" + sdm2};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(RunChecks, AModelOfAsManyPredictorsAsVolumesEndsTheTaskNamingItsFile) {
    Scenario s;
    const std::string full = s.dir.file("full.sdm");
    itest::writeDesign(full, designOfColumns(s, s.volumes - 1)); // with the constant: n predictors
    const std::vector<std::string> before = filesIn(s.dir.path());
    const hosttest::Outcome o = s.run(withDesigns(s.sdm1, full, {"--set", "residuals2=1"}));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
              "Error: full.sdm has 24 predictors (with the constant) for 24 volumes; a model needs fewer "
              "predictors than volumes\n");
    EXPECT_EQ(o.out.find(">  Start comparing models\n\n"), o.out.rfind(">  Start comparing models"))
        << "the check comes before the second start line:\n"
        << o.out;
    EXPECT_EQ(filesIn(s.dir.path()), before) << "nothing is written";
}

TEST(RunChecks, ModelOneIsCheckedFirst) {
    Scenario s;
    const std::string over1 = s.dir.file("over1.sdm");
    const std::string over2 = s.dir.file("over2.sdm");
    itest::writeDesign(over1, designOfColumns(s, s.volumes + 2));
    itest::writeDesign(over2, designOfColumns(s, s.volumes));
    const hosttest::Outcome o = s.run(withDesigns(over1, over2));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err.rfind("Error: over1.sdm has 27 predictors (with the constant) for 24 volumes", 0), 0u) << o.err;
}

TEST(RunChecks, OneResidualDegreeOfFreedomStaysAllowed) {
    Scenario s;
    const std::string tight = s.dir.file("tight.sdm");
    itest::writeDesign(tight, designOfColumns(s, s.volumes - 2)); // n = p + 1
    const hosttest::Outcome o = s.run(withDesigns(s.sdm1, tight));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fileExists(s.dir.file("tight_Fval_diff_model1.map")));
}

TEST(RunChecks, CleanedRunsOfSameNamedDesignsInOtherFoldersWouldCollide) {
    Scenario s;
    std::filesystem::create_directories(s.dir.file("a"));
    std::filesystem::create_directories(s.dir.file("b"));
    const std::string a = s.dir.file("a/m.sdm");
    const std::string b = s.dir.file("b/m.sdm");
    itest::writeDesign(a, s.model1);
    itest::writeDesign(b, s.model2);
    const std::vector<std::string> before = filesIn(s.dir.path());
    const hosttest::Outcome o =
        s.run(withDesigns(a, b, {"--set", "residuals1=1", "--set", "residuals2=1", "--set", "tSNR1=0"}));
    EXPECT_EQ(o.status, 1);
    const std::string cleaned = s.dir.file("run_min_confounds_of_m.fmr");
    EXPECT_EQ(o.err.rfind("Error: Two outputs of this run would be written to " + cleaned + ":", 0), 0u) << o.err;
    EXPECT_EQ(filesIn(s.dir.path()), before);
    EXPECT_TRUE(filesIn(s.dir.file("a")).size() == 1 && filesIn(s.dir.file("b")).size() == 1);
}

TEST(RunChecks, MapsOfDesignsThatDifferOnlyInTheirExtensionWouldCollide) {
    Scenario s;
    const std::string sdm = s.dir.file("m.sdm");
    const std::string txt = s.dir.file("m.txt");
    itest::writeDesign(sdm, s.model1);
    itest::writeDesign(txt, s.model2);
    const hosttest::Outcome o = s.run(withDesigns(sdm, txt));
    EXPECT_EQ(o.status, 1);
    // The first path written twice: model 2's tSNR map over model 1's.
    const std::string first = s.dir.file("m_tSNR_residuals.map");
    EXPECT_EQ(o.err.rfind("Error: Two outputs of this run would be written to " + first + ":", 0), 0u) << o.err;
    EXPECT_FALSE(fileExists(s.dir.file("m_tSNR_residuals.map")));
}

TEST(RunChecks, WithoutTheCollidingOutputsTheRunGoesAhead) {
    Scenario s;
    const std::string sdm = s.dir.file("m.sdm");
    const std::string txt = s.dir.file("m.txt");
    itest::writeDesign(sdm, s.model1);
    itest::writeDesign(txt, s.model2);
    // Only the difference maps and the F map: their names hold both stems but differ by kind.
    const hosttest::Outcome o = s.run(
        withDesigns(sdm, txt, {"--set", "tSNR1=0", "--set", "tSNR2=0", "--set", "R2adj1=0", "--set", "R2adj2=0"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fileExists(s.dir.file("m_tSNR_diff_m.map")));
    EXPECT_TRUE(fileExists(s.dir.file("m_Fval_diff_m.map")));
}

TEST(RunChecks, TheSameFileForBothModelsKeepsItsOutcome) {
    Scenario s;
    const hosttest::Outcome o = s.run(withDesigns(s.sdm1, s.sdm1, {"--set", "residuals1=1", "--set", "residuals2=1"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("Fmap could not be create because both SDMs have the same number of predictors"),
              std::string::npos);
    EXPECT_TRUE(fileExists(s.dir.file("run_min_confounds_of_model1.fmr")));
    EXPECT_TRUE(fileExists(s.dir.file("model1_tSNR_diff_model1.map")));
}

} // namespace
