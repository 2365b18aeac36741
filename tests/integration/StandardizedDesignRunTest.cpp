// Designs from a pipeline-style confounds table in scanner units (csf near
// 9200, its square near 8.5e7), compared by the plug-in through Corvantis:
// z-scored, the confound fit carries no level, so the cleaned run keeps each
// voxel's mean and the nested comparison gives no negative F; kept raw, the
// confounds' means move the cleaned run away from the data.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "HostTestSupport.h"
#include "Scenario.h"
#include "host/formats/ConfoundTable.h"

namespace {

using hosttest::Outcome;

const std::string kData = QUORVEX_DESIGN_FIXTURES;
const std::string kTable = kData + "/sub-01_task-go_desc-confounds_timeseries.tsv";
const std::string kEvents = kData + "/sub-01_task-go_events.tsv";
constexpr int kVoxels = 6;
constexpr int kVolumes = 80;

struct PipelineComparison {
    hosttest::TempDir dir;
    std::string fmr;
    std::vector<float> values; // volume-major

    // Each voxel: its own level near 800, a share of the table's csf, white-matter
    // and motion signals in their units, and a small deterministic noise.
    PipelineComparison() {
        const corvantis::ConfoundTable table = corvantis::readConfoundTable(kTable);
        const auto& csf = *table.column("csf");
        const auto& wm = *table.column("white_matter");
        const auto& tx = *table.column("trans_x");
        uint32_t state = 17;
        for (int t = 0; t < kVolumes; ++t) {
            for (int v = 0; v < kVoxels; ++v) {
                state = state * 1664525u + 1013904223u;
                const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 4.0;
                values.push_back(static_cast<float>(780.0 + 10.0 * v + 0.02 * (v + 1) * (*csf[t] - 9200.0) +
                                                    0.3 * (*wm[t] - 1480.0) + 25.0 * v * *tx[t] + noise));
            }
        }
        fmr = hosttest::writeRun(dir.path(), "run", 3, 2, 1, kVolumes, 2, hosttest::floatBytes(values), "TR: 2000\n");
    }

    void makeSdm(const std::string& name, const std::string& strategy, bool standardize) const {
        std::vector<std::string> args = {"make-sdm",
                                         "--fmr",
                                         fmr,
                                         "--table",
                                         kTable,
                                         "--events",
                                         kEvents,
                                         "--strategy",
                                         strategy,
                                         "--output",
                                         dir.file(name + ".sdm")};
        if (!standardize) args.push_back("--no-standardize");
        const Outcome o = hosttest::runProgram(hosttest::corvantisProgram(), args);
        ASSERT_EQ(o.status, 0) << o.err;
    }

    // The largest difference between a voxel's mean in the cleaned run of model 2 and in the data.
    double largestMeanShift() const {
        const std::vector<float> cleaned = itest::readFloats(dir.file("run_min_confounds_of_m2.stc"));
        EXPECT_EQ(cleaned.size(), values.size());
        double largest = 0.0;
        for (int v = 0; v < kVoxels && cleaned.size() == values.size(); ++v) {
            double data = 0.0, clean = 0.0;
            for (int t = 0; t < kVolumes; ++t) {
                data += values[static_cast<std::size_t>(t * kVoxels + v)];
                clean += cleaned[static_cast<std::size_t>(t * kVoxels + v)];
            }
            largest = std::max(largest, std::abs(clean - data) / kVolumes);
        }
        return largest;
    }

    void compare(bool standardize) const {
        makeSdm("m1", "6P", standardize);
        makeSdm("m2", "36P", standardize);
        const Outcome o = hosttest::runProgram(hosttest::corvantisProgram(),
                                               {"--fmr", fmr, "--set", "sdmfile1=" + dir.file("m1.sdm"), "--set",
                                                "sdmfile2=" + dir.file("m2.sdm"), "--set", "residuals2=1", "start"});
        ASSERT_EQ(o.status, 0) << o.err;
    }
};

TEST(StandardizedDesignRun, TheCleanedRunKeepsEachVoxelsMeanAndNoFIsNegative) {
    PipelineComparison run;
    run.compare(true);
    // Within float precision of a mean near 800.
    EXPECT_LT(run.largestMeanShift(), 1e-3);
    for (float f : itest::readMap(run.dir.file("m2_Fval_diff_m1.map")).values) EXPECT_GE(f, 0.0f);
    for (float t : itest::readMap(run.dir.file("m2_tSNR_residuals.map")).values) EXPECT_GT(t, 0.0f);
}

TEST(StandardizedDesignRun, KeptRawTheConfoundsMeansMoveTheCleanedRun) {
    PipelineComparison run;
    run.compare(false);
    EXPECT_GT(run.largestMeanShift(), 1.0);
}

} // namespace
