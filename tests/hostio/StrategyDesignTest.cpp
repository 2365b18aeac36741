// Designs built from a pipeline-style confounds table (tests/hostio/data):
// each preset's and component's exact columns, derived columns computed where
// the table lacks them, "n/a" fills, z-scoring, CompCor chosen through the
// sidecar, scrubbing, and what is refused.
#include <gtest/gtest.h>

#include <cmath>

#include "host/formats/ConfoundTable.h"
#include "host/formats/HostErrors.h"
#include "host/research/PipelineSidecar.h"
#include "host/research/StrategyDesign.h"

namespace {

using corvantis::BuiltDesign;
using corvantis::ConfoundTable;
using corvantis::DesignInputs;
using Names = std::vector<std::string>;

const std::string kTable = std::string(QUORVEX_DESIGN_FIXTURES) + "/sub-01_task-go_desc-confounds_timeseries.tsv";
const std::string kSidecar = std::string(QUORVEX_DESIGN_FIXTURES) + "/sub-01_task-go_desc-confounds_timeseries.json";

DesignInputs pipelineInputs(bool withSidecar = true) {
    DesignInputs inputs;
    inputs.tables = {corvantis::readConfoundTable(kTable)};
    if (withSidecar) inputs.sidecar = corvantis::readPipelineSidecar(kSidecar);
    inputs.volumes = 80;
    return inputs;
}

BuiltDesign build(const std::string& strategy, const DesignInputs& inputs = pipelineInputs()) {
    return corvantis::buildStrategyDesign(inputs, corvantis::parseConfoundStrategy(strategy));
}

std::string refusal(const std::string& strategy, const DesignInputs& inputs = pipelineInputs()) {
    try {
        build(strategy, inputs);
    } catch (const corvantis::DocumentError& e) {
        return e.what();
    }
    return "(accepted)";
}

Names expanded(const Names& bases, const Names& suffixes) {
    Names names;
    for (const std::string& suffix : suffixes) {
        for (const std::string& base : bases) names.push_back(base + suffix);
    }
    return names;
}

Names concat(std::initializer_list<Names> parts) {
    Names all;
    for (const Names& part : parts) all.insert(all.end(), part.begin(), part.end());
    all.push_back("Constant");
    return all;
}

const Names kMotion = {"trans_x", "trans_y", "trans_z", "rot_x", "rot_y", "rot_z"};
const Names kFull = {"", "_derivative1", "_power2", "_derivative1_power2"};
const Names kCosines = {"cosine00", "cosine01", "cosine02", "cosine03"};

TEST(StrategyDesign, EveryPresetHasItsExactColumns) {
    const Names motion24 = expanded(kMotion, kFull);
    EXPECT_EQ(build("6P").table.names, concat({kMotion}));
    EXPECT_EQ(build("9P").table.names, concat({kMotion, {"white_matter", "csf", "global_signal"}}));
    EXPECT_EQ(build("24P").table.names, concat({motion24}));
    EXPECT_EQ(build("36P").table.names,
              concat({motion24, expanded({"white_matter", "csf"}, kFull), expanded({"global_signal"}, kFull)}));
    EXPECT_EQ(build("simple").table.names, concat({motion24, {"white_matter", "csf"}, kCosines}));
    // Volumes 10, 11, 15 and 18 move more than 0.5 mm, 31 has std_dvars above 1.5; 12-14 and 16-17
    // are runs of kept volumes shorter than 5. Volume 41's displacement and 51's std_dvars equal
    // the thresholds and are kept.
    Names spikes;
    for (int v : {10, 11, 12, 13, 14, 15, 16, 17, 18, 31}) spikes.push_back("scrub_volume_" + std::to_string(v));
    EXPECT_EQ(build("scrubbing").table.names,
              concat({motion24, expanded({"white_matter", "csf"}, kFull), kCosines, spikes}));
    // The combined mask's cumulative variance explained: 0.21 0.35 0.46 0.54 0.60.
    EXPECT_EQ(build("compcor").table.names,
              concat({motion24, {"a_comp_cor_00", "a_comp_cor_01", "a_comp_cor_02", "a_comp_cor_03"}, kCosines}));
    for (const char* preset : {"6P", "36P", "scrubbing", "compcor"}) {
        const BuiltDesign built = build(preset);
        EXPECT_EQ(built.table.firstConfoundPredictor, 1) << preset;
        EXPECT_TRUE(built.warnings.empty()) << preset;
        EXPECT_EQ(built.columns.size(), built.table.names.size());
    }
}

TEST(StrategyDesign, CompCorIsChosenByMaskCountOrVarianceFromTheSidecar) {
    // WM first (cumulative 0.30 0.45 0.52), then CSF (0.40 0.55).
    EXPECT_EQ(build("compcor=anat_separated:0.5").table.names,
              concat({{"a_comp_cor_08", "a_comp_cor_09", "a_comp_cor_10", "a_comp_cor_05", "a_comp_cor_06"}}));
    EXPECT_EQ(build("compcor=anat_combined:2").table.names, concat({{"a_comp_cor_00", "a_comp_cor_01"}}));
    EXPECT_EQ(build("compcor=temporal:0.4").table.names, concat({{"t_comp_cor_00", "t_comp_cor_01"}}));
    const BuiltDesign all = build("compcor=anat_combined:0.99");
    EXPECT_EQ(all.table.names.size(), 6u);
    EXPECT_EQ(all.warnings, (Names{"compcor: the a_comp_cor_NN columns of the \"combined\" mask explain 60% of the "
                                   "variance together, less than 99%; all of them are used"}));
    EXPECT_EQ(refusal("compcor=anat_combined:6"),
              "compcor asks for 6 components, but the tables have 5 a_comp_cor_NN columns of the \"combined\" mask");

    // Without the sidecar the masks cannot be told apart; temporal components still can be counted.
    const DesignInputs bare = pipelineInputs(false);
    EXPECT_EQ(refusal("compcor", bare),
              "compcor=anat_combined needs the confounds table's JSON sidecar, which tells "
              "the masks of the a_comp_cor_NN columns apart");
    EXPECT_EQ(build("compcor=temporal:2", bare).table.names, concat({{"t_comp_cor_00", "t_comp_cor_01"}}));
    const BuiltDesign fallback = build("compcor=temporal:0.5", bare);
    EXPECT_EQ(fallback.table.names, concat({{"t_comp_cor_00", "t_comp_cor_01", "t_comp_cor_02"}}));
    EXPECT_EQ(fallback.warnings, (Names{"compcor: the sidecar gives no variance explained for the t_comp_cor_NN "
                                        "columns, so the first 3 are used instead of those reaching 50%"}));
}

TEST(StrategyDesign, OutliersNonSteadyStateAndPatterns) {
    EXPECT_EQ(build("scrub=outliers,non_steady_state").table.names,
              concat({{"motion_outlier00", "motion_outlier01", "motion_outlier02", "motion_outlier03",
                       "motion_outlier04", "non_steady_state_outlier00"}}));
    EXPECT_EQ(build("6P,a_comp_cor_1?,csf_wm").table.names, concat({kMotion, {"a_comp_cor_10", "csf_wm"}}));
    EXPECT_EQ(refusal("6P,trans_x"), "the column \"trans_x\" is chosen twice");
    EXPECT_EQ(refusal("6P,framewise"),
              "no table has a column \"framewise\"; a strategy item that is no column must be "
              "a preset (6P, 9P, 24P, 36P, simple, scrubbing, compcor) or a component "
              "(motion, wm_csf, global_signal, compcor, high_pass, scrub, non_steady_state)");
}

// The table without the columns pipelines derive: they are computed the same way.
TEST(StrategyDesign, DerivedColumnsTheTableLacksAreComputedAsPipelinesWriteThem) {
    DesignInputs stripped = pipelineInputs();
    ConfoundTable& table = stripped.tables.front();
    ConfoundTable kept;
    kept.path = table.path;
    for (std::size_t c = 0; c < table.names.size(); ++c) {
        const std::string& name = table.names[c];
        if (name.find("_derivative1") != std::string::npos || name.find("_power2") != std::string::npos) continue;
        kept.names.push_back(name);
        kept.columns.push_back(table.columns[c]);
    }
    ASSERT_EQ(kept.names.size(), table.names.size() - 27);
    table = kept;
    const BuiltDesign fromTable = build("36P");
    const BuiltDesign computed = build("36P", stripped);
    ASSERT_EQ(computed.table.names, fromTable.table.names);
    for (std::size_t j = 0; j < fromTable.table.columns.size(); ++j) {
        EXPECT_EQ(computed.table.columns[j], fromTable.table.columns[j]) << fromTable.table.names[j];
        EXPECT_EQ(computed.columns[j].filled, fromTable.columns[j].filled) << fromTable.table.names[j];
    }
    EXPECT_EQ(fromTable.columns[6].transformation, "as in the table");
    EXPECT_EQ(computed.columns[6].transformation, "first difference (computed; the first volume undefined)");
    EXPECT_EQ(computed.columns[6].from, "trans_x");
    EXPECT_EQ(computed.columns[18].transformation,
              "square of the first difference (computed; the first volume undefined)");
}

TEST(StrategyDesign, ColumnsAreZScoredAfterTheirUndefinedValuesAreFilled) {
    const BuiltDesign built = build("36P,scrub");
    const std::size_t n = 80;
    for (std::size_t j = 0; j + 1 < built.table.columns.size(); ++j) {
        double mean = 0.0;
        for (float v : built.table.columns[j]) mean += v;
        mean /= n;
        double squares = 0.0;
        for (float v : built.table.columns[j]) squares += (v - mean) * (v - mean);
        EXPECT_NEAR(mean, 0.0, 1e-7) << built.table.names[j];
        EXPECT_NEAR(std::sqrt(squares / n), 1.0, 1e-6) << built.table.names[j];
    }
    // trans_x_derivative1: its first row "n/a" is filled with the mean of the others, which is
    // then the mean of all, so it is 0 once z-scored.
    const auto& derivative = built.columns[6];
    ASSERT_EQ(derivative.name, "trans_x_derivative1");
    EXPECT_EQ(derivative.filled, 1u);
    EXPECT_NEAR(derivative.fillValue, derivative.mean, 1e-15);
    EXPECT_NEAR(built.table.columns[6][0], 0.0f, 1e-6f);
    // csf_power2 in raw units near 8.5e7: its record keeps mean and sd in those units.
    const auto& csfSquared = built.columns[29];
    ASSERT_EQ(csfSquared.name, "csf_power2");
    EXPECT_GT(csfSquared.mean, 8e7);
    EXPECT_TRUE(csfSquared.standardized);
    // A spike z-scored: (1 - 1/n) / sd at its volume, -1/n / sd elsewhere, sd = sqrt((1/n)(1 - 1/n)).
    const std::size_t spike = built.table.names.size() - 11;
    ASSERT_EQ(built.table.names[spike], "scrub_volume_10");
    const double sd = std::sqrt((1.0 / n) * (1.0 - 1.0 / n));
    EXPECT_FLOAT_EQ(built.table.columns[spike][9], static_cast<float>((1.0 - 1.0 / n) / sd));
    EXPECT_FLOAT_EQ(built.table.columns[spike][0], static_cast<float>((-1.0 / n) / sd));

    // Kept raw: the fill is the mean of the defined values.
    DesignInputs raw = pipelineInputs();
    raw.standardize = false;
    const BuiltDesign unscaled = build("24P", raw);
    double sum = 0.0;
    for (std::size_t t = 1; t < n; ++t) sum += *raw.tables.front().column("trans_x_derivative1")->at(t);
    EXPECT_EQ(unscaled.table.columns[6][0], static_cast<float>(sum / 79.0));
    EXPECT_FALSE(unscaled.columns[6].standardized);
}

TEST(StrategyDesign, ScrubCensorsVolumesAboveThresholdsAndShortSegments) {
    const ConfoundTable table = corvantis::parseConfoundTable(
        "framewise_displacement\tstd_dvars\nn/a\tn/a\n0.1\t1\n0.6\t1\n0.1\t1\n0.1\t1\n0.1\t1.6\n0.1\t1\n0.1\t1\n"
        "0.5\t1.5\n0.1\t1\n",
        "t.tsv");
    corvantis::ScrubChoice scrub;
    scrub.framewiseDisplacement = 0.5;
    EXPECT_EQ(corvantis::censoredVolumes(table, scrub), (std::vector<int32_t>{2}));
    scrub.standardizedDvars = 1.5;
    EXPECT_EQ(corvantis::censoredVolumes(table, scrub), (std::vector<int32_t>{2, 5}));
    // Kept runs: 0-1 (2), 3-4 (2), 6-9 (4).
    scrub.minimumSegment = 3;
    EXPECT_EQ(corvantis::censoredVolumes(table, scrub), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    scrub.minimumSegment = 5;
    EXPECT_EQ(corvantis::censoredVolumes(table, scrub), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    const ConfoundTable noDvars = corvantis::parseConfoundTable("framewise_displacement\n0.1\n", "u.tsv");
    try {
        corvantis::censoredVolumes(noDvars, scrub);
        FAIL();
    } catch (const corvantis::DocumentError& e) {
        EXPECT_STREQ(e.what(), "the confounds table \"u.tsv\" has no column \"std_dvars\", which scrub=dvars needs");
    }
}

// A table naming a column twice: which one a strategy means cannot be told, so
// using it is refused, by name, by pattern or through a component; the columns
// it does not name twice stay usable.
TEST(StrategyDesign, AColumnNamedTwiceIsRefusedWhereUsedAndAllowedWhereNot) {
    DesignInputs twice;
    twice.tables = {corvantis::parseConfoundTable(
        "csf\twhite_matter\tcosine00\tcsf\n1\t5\t1\t9\n2\t3\t-1\t7\n4\t4\t1\t8\n7\t1\t-1\t2\n", "t.tsv")};
    const std::string refused =
        "\"t.tsv\" names the column \"csf\" twice (columns 1 and 4); which of them is meant cannot be told: "
        "rename one";
    EXPECT_EQ(refusal("csf", twice), refused);
    EXPECT_EQ(refusal("wm_csf", twice), refused);
    EXPECT_EQ(refusal("c*", twice), refused);
    const BuiltDesign unused = build("white_matter,high_pass", twice);
    EXPECT_EQ(unused.table.names, (Names{"cosine00", "white_matter", "Constant"}));
}

TEST(StrategyDesign, RefusesWhatATableCannotGive) {
    DesignInputs small;
    small.tables = {corvantis::parseConfoundTable("csf\tcosine00\n1\t1\n2\t-1\n4\t1\n", "s.tsv")};
    EXPECT_EQ(refusal("6P", small), "no table has a column \"trans_x\", which motion needs");
    EXPECT_EQ(refusal("wm_csf", small), "no table has a column \"white_matter\", which wm_csf needs");
    // A column named like the drifts but not numbered is none of them.
    small.tables = {corvantis::parseConfoundTable("csf\tcosine_x\tcosine\n1\t3\t1\n2\t1\t2\n4\t2\t0\n", "s.tsv")};
    EXPECT_EQ(refusal("high_pass", small), "high_pass: no table has a cosineNN column");
    // non_steady_state and outliers: pipelines write no such column when no volume is one.
    const BuiltDesign none = build("non_steady_state,csf", small);
    EXPECT_EQ(none.table.names, (Names{"csf", "Constant"}));
    EXPECT_EQ(none.warnings,
              (Names{"non_steady_state: no table has a non_steady_state_outlierNN column; none is added"}));
}

} // namespace
