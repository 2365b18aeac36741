// The run's log through the Corvantis program: a model whose X'X is too
// ill-conditioned for the float inverse says so right after its preparation;
// a well-conditioned one logs nothing extra.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <iomanip>
#include <string>
#include <vector>

#include "GeneratedDesigns.h"
#include "HostTestSupport.h"
#include "design/DesignMatrix.h"
#include "design/SDMReader.h"
#include "quorvex/ModelPreparation.h"

namespace {

// An .sdm file of the design's columns without the trailing constant, which
// the plug-in adds itself.
void writeDesign(const std::string& path, const gendesign::Design& d) {
    const std::size_t count = d.columns.size() - 1;
    std::ofstream out(path, std::ios::binary);
    out << "FileVersion:          1\n\nNrOfPredictors:       " << count
        << "\nNrOfDataPoints:       " << gendesign::kVolumes << "\nIncludesConstant:     0\n"
        << "FirstConfoundPredictor: " << d.firstConfound + 1 << "\n\n";
    for (std::size_t j = 0; j < count; ++j) out << "255 0 " << j << "\n";
    for (std::size_t j = 0; j < count; ++j) out << (j ? " " : "") << "\"p" << j + 1 << '"';
    out << "\n" << std::setprecision(9);
    for (std::size_t t = 0; t < static_cast<std::size_t>(gendesign::kVolumes); ++t) {
        for (std::size_t j = 0; j < count; ++j) out << (j ? " " : "") << d.columns[j][t];
        out << "\n";
    }
}

// A 2 x 1 x 1 float run of the generated time courses.
std::string writeRun(const hosttest::TempDir& dir, const gendesign::Regressors& r) {
    const std::vector<Vector> y = gendesign::voxelTimeCourses(r, 2, 99);
    std::vector<float> values;
    for (int32_t t = 0; t < gendesign::kVolumes; ++t) {
        for (const Vector& voxel : y) values.push_back(voxel[t]);
    }
    return hosttest::writeRun(dir.path(), "run", 2, 1, 1, gendesign::kVolumes, 2, hosttest::floatBytes(values));
}

// What the preparation logs for the design file, if anything.
std::string expectedLine(const std::string& path) {
    SDMFile record = readSDMFile(path);
    record.ensureConstant();
    const ModelPseudoInverse inverse = prepareModelPseudoInverse(designMatrix(record));
    return inverse.doublePrecision ? "Quorvex" + illConditionedMessage(path, inverse.residual) + "\n" : "";
}

TEST(IllConditionedRun, LogsTheFallbackRightAfterThatModelsPreparation) {
    const gendesign::Regressors r = gendesign::makeRegressors(20260);
    hosttest::TempDir dir;
    const std::string fmr = writeRun(dir, r);
    const std::string sdm1 = dir.file("tasks.sdm");
    const std::string sdm2 = dir.file("trend.sdm");
    writeDesign(sdm1, gendesign::tasksAndCosines(r));
    writeDesign(sdm2, gendesign::motionAndTrend(r));
    const std::string line1 = expectedLine(sdm1);
    const std::string line2 = expectedLine(sdm2);
    EXPECT_EQ(line1, "");
    ASSERT_NE(line2, "");
    EXPECT_EQ(line2.rfind("Quorvex>  Design trend.sdm is ill-conditioned for single precision (residual ", 0), 0u)
        << line2;

    const hosttest::Outcome o =
        hosttest::runProgram(hosttest::corvantisProgram(),
                             {"--fmr", fmr, "--set", "sdmfile1=" + sdm1, "--set", "sdmfile2=" + sdm2, "start"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "Corvantis: 2 of 2 voxels analysed (time course above the threshold 100 in every volume)\n");
    EXPECT_EQ(o.out,
              "\nQuorvex>  Running...\n"
              "\nQuorvex>  Start comparing models\n"
              "\nQuorvex>  FMR size: 2 x 1 x 1 x 300\n"
              "Quorvex>  Start comparing models\n" +
                  line2 +
                  "Quorvex>  Saving Maps...\n"
                  "\nQuorvex>  Plugin finished!\n\n"
                  "\n");
}

TEST(IllConditionedRun, BothModelsIllConditionedLogInModelOrder) {
    const gendesign::Regressors r = gendesign::makeRegressors(20260);
    hosttest::TempDir dir;
    const std::string fmr = writeRun(dir, r);
    const std::string sdm1 = dir.file("motion6.sdm");
    const std::string sdm2 = dir.file("motion24.sdm");
    writeDesign(sdm1, gendesign::motionAndCosines(r, 0.1));
    writeDesign(sdm2, gendesign::expandedMotionAndCosines(r));
    const std::string line1 = expectedLine(sdm1);
    const std::string line2 = expectedLine(sdm2);
    ASSERT_NE(line1, "");
    ASSERT_NE(line2, "");
    const hosttest::Outcome o =
        hosttest::runProgram(hosttest::corvantisProgram(),
                             {"--fmr", fmr, "--set", "sdmfile1=" + sdm1, "--set", "sdmfile2=" + sdm2, "start"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("Quorvex>  Start comparing models\n" + line1 + line2 + "Quorvex>  Saving Maps...\n"),
              std::string::npos)
        << o.out;
}

} // namespace
