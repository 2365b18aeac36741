#include "host/research/ComparisonSummary.h"

#include <cmath>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/research/ComparisonNames.h"

namespace {

using namespace corvantis;

TEST(ComparisonNames, RunStemDropsTheRunsExtension) {
    EXPECT_EQ(runStem("/data/sub-01/func/sub-01_task-rest_bold.nii.gz"), "sub-01_task-rest_bold");
    EXPECT_EQ(runStem("RUN.NII.GZ"), "RUN");
    EXPECT_EQ(runStem("a/run.nii"), "run");
    EXPECT_EQ(runStem("run.fmr"), "run");
    EXPECT_EQ(runStem("run.data"), "run.data");
}

TEST(ComparisonNames, StrategyLabelsAreSafeFileNameParts) {
    EXPECT_EQ(strategyLabel("6P"), "6P");
    EXPECT_EQ(strategyLabel("motion=full,high_pass"), "motion-full+high_pass");
    EXPECT_EQ(strategyLabel("a_comp_cor_0*"), "a_comp_cor_0x");
    EXPECT_EQ(strategyLabel("../x y"), "---x-y");
}

// Linear interpolation between ranks: {1, 2, 3, 4} has quartiles at ranks
// 0.75, 1.5 and 2.25: 1.75, 2.5, 3.25.
TEST(Quartiles, InterpolateBetweenRanksAndSkipValuesThatAreNotFinite) {
    const MapQuartiles q = quartilesOf({4.0, std::nan(""), 1.0, 3.0, 2.0, INFINITY});
    EXPECT_EQ(q.voxels, 4);
    EXPECT_EQ(q.min, 1.0);
    EXPECT_EQ(q.q1, 1.75);
    EXPECT_EQ(q.median, 2.5);
    EXPECT_EQ(q.q3, 3.25);
    EXPECT_EQ(q.max, 4.0);
    EXPECT_EQ(quartilesOf({}).voxels, 0);
}

TEST(SummaryJson, HasExactlyTheKeysReadersUse) {
    ComparisonSummary s;
    s.run = "run.nii.gz";
    s.model1.strategy = "6P";
    s.model1.columns = {"trans_x", "Constant"};
    s.selectionMethod = "threshold";
    s.threshold = 88.5;
    s.maps["f"] = MapQuartiles{"f.nii.gz", 0, 1, 2, 3, 4, 5};
    s.maps["tsnr1"] = MapQuartiles{"t.nii.gz", 1, 1, 1, 1, 1, 7};
    s.warnings = {"w"};
    s.outputs = {"a.sdm", "summary.json"};
    const nlohmann::json json = nlohmann::json::parse(summaryJsonText(s));
    std::vector<std::string> keys;
    for (auto it = json.begin(); it != json.end(); ++it) keys.push_back(it.key());
    std::sort(keys.begin(), keys.end());
    const std::vector<std::string> expected = {"confounds",
                                               "events",
                                               "f_df",
                                               "fdr",
                                               "mask",
                                               "maps",
                                               "median_delta_r2adj",
                                               "median_delta_tsnr",
                                               "model1",
                                               "model2",
                                               "nested",
                                               "outputs",
                                               "run",
                                               "share_f_survives_fdr",
                                               "share_tsnr_raised",
                                               "timings",
                                               "volumes",
                                               "voxel_selection",
                                               "voxels_analysed",
                                               "voxels_total",
                                               "warnings"};
    std::vector<std::string> sortedExpected = expected;
    std::sort(sortedExpected.begin(), sortedExpected.end());
    EXPECT_EQ(keys, sortedExpected);
    EXPECT_TRUE(json["events"].is_null());
    EXPECT_TRUE(json["mask"].is_null());
    EXPECT_TRUE(json["f_df"].is_null());
    EXPECT_TRUE(json["share_f_survives_fdr"].is_null());
    EXPECT_TRUE(json["fdr"]["neglog10p_threshold"].is_null());
    EXPECT_EQ(json["voxel_selection"]["threshold"], 88.5);
    EXPECT_EQ(json["model1"]["columns"], nlohmann::json({"trans_x", "Constant"}));
    for (const char* key : {"strategy", "design", "predictors", "rank", "condition_number", "residual_df", "columns"}) {
        EXPECT_TRUE(json["model2"].contains(key)) << key;
    }
    EXPECT_EQ(json["maps"].size(), 2u);
    EXPECT_EQ(json["maps"]["f"]["voxels"], 5);
    EXPECT_EQ(json["maps"]["tsnr1"]["file"], "t.nii.gz");
    for (const char* key : {"design_s", "compare_s", "write_s", "total_s"}) EXPECT_TRUE(json["timings"].contains(key));

    s.fDf = std::array<int32_t, 2>{30, 110};
    s.fdrNegLog10PThreshold = 3.5;
    s.shareFSurvivesFdr = 0.25;
    const nlohmann::json nested = nlohmann::json::parse(summaryJsonText(s));
    EXPECT_EQ(nested["f_df"], nlohmann::json({30, 110}));
    EXPECT_EQ(nested["fdr"]["neglog10p_threshold"], 3.5);
    EXPECT_EQ(nested["share_f_survives_fdr"], 0.25);
}

} // namespace
