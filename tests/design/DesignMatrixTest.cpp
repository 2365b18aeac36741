#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "design/DesignMatrix.h"

namespace {

using Floats = std::vector<float>;

SDMFile design(const std::vector<Floats>& columns, int32_t points) {
    SDMFile r;
    r.nrOfPredictors.value = static_cast<int32_t>(columns.size());
    r.nrOfDataPoints.value = points;
    r.predictorValues = columns;
    return r;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(DesignMatrix, ElementTJIsValueOfPredictorJAtTimeT) {
    const SDMFile r = design({{0.1f, -0.0f, 3.0f}, {NAN, 1e-40f, -2.5f}, {7.0f, 7.0f, 7.0f}}, 3);
    const Matrix x = designMatrix(r);
    ASSERT_EQ(x.rows(), 3);
    ASSERT_EQ(x.cols(), 3);
    for (int32_t t = 0; t < 3; ++t) {
        for (int32_t j = 0; j < 3; ++j) {
            EXPECT_TRUE(sameBits(x(t, j), r.predictorValues[j][t])) << t << ", " << j;
        }
    }
}

TEST(DesignMatrix, AddsAColumnOfOnesAfterANonConstantLastPredictor) {
    const Matrix x = designMatrix(design({{2.0f, 3.0f}, {0.0f, 0.0f}}, 2));
    ASSERT_EQ(x.rows(), 2);
    ASSERT_EQ(x.cols(), 3);
    EXPECT_EQ(x(0, 1), 0.0f);
    EXPECT_EQ(x(1, 0), 3.0f);
    EXPECT_EQ(x(0, 2), 1.0f);
    EXPECT_EQ(x(1, 2), 1.0f);
}

TEST(DesignMatrix, AfterEnsureConstantHasOneColumnPerPredictor) {
    SDMFile r = design({{2.0f, 3.0f}, {0.0f, 4.0f}}, 2);
    r.ensureConstant();
    const Matrix x = designMatrix(r);
    EXPECT_EQ(x.cols(), 3);
    EXPECT_EQ(designMatrix(design({{2.0f, 3.0f}, {2.5f, 2.5f}}, 2)).cols(), 2);
}

TEST(DesignMatrix, WithoutDataPointsHasNoRows) {
    SDMFile r = design({{}}, 0);
    r.ensureConstant();
    const Matrix x = designMatrix(r);
    EXPECT_EQ(x.rows(), 0);
    // The empty "Constant" is not a constant: ones are due once more.
    EXPECT_EQ(x.cols(), 3);
}

} // namespace
