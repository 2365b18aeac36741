#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "quorvex/VoxelStatistics.h"
#include "tests/quorvex/LeastSquaresReference.h"
#include "tests/support/FloatBits.h"

namespace {

using testsupport::bitsOf;

#define EXPECT_SAME_FLOAT(a, b) EXPECT_EQ(bitsOf(a), bitsOf(b)) << (a) << " vs " << (b)

Vector vectorOf(const std::vector<float>& values) {
    Vector v(static_cast<int32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        v[static_cast<int32_t>(i)] = values[i];
    }
    return v;
}

Matrix matrixOf(int32_t rows, int32_t cols, const std::vector<float>& rowMajor) {
    Matrix m(rows, cols, 0.0f);
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < cols; ++c) {
            m(r, c) = rowMajor[static_cast<std::size_t>(r * cols + c)];
        }
    }
    return m;
}

// Model "constant only" on n = 4 points: P = [1/4 1/4 1/4 1/4], exact in float.
PreparedModel constantModel(int32_t n) {
    PreparedModel m;
    m.X = Matrix(n, 1, 1.0f);
    m.P = Matrix(1, n, 1.0f / static_cast<float>(n));
    m.confoundSelector = Vector(1, 0.0f);
    return m;
}

// Model with a +-1 step confound and a constant on 4 points: X'X = 4 I, so
// P = X'/4 holds only +-0.25, exact in float.
PreparedModel stepModel() {
    PreparedModel m;
    m.X = matrixOf(4, 2, {-1, 1, -1, 1, 1, 1, 1, 1});
    m.P = matrixOf(2, 4, {-0.25f, -0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.25f});
    m.confoundSelector = vectorOf({1.0f, 0.0f});
    return m;
}

} // namespace

TEST(VoxelStatistics, HandCheckedVoxel) {
    // y = 3.5 + 2 * step + (-0.5, 0.5, -0.5, 0.5): SST = 17, SSE of the step model = 1.
    const Vector y = vectorOf({1, 2, 5, 6});
    const PreparedModel models[2] = {constantModel(4), stepModel()};
    const VoxelStatistics s = computeVoxelStatistics(y, models);

    // Model 1 removes nothing: its cleaned course is y itself.
    for (int32_t v = 0; v < 4; ++v) {
        EXPECT_SAME_FLOAT(s.model[0].cleaned[v], y[v]);
    }
    EXPECT_SAME_FLOAT(s.model[0].sse, 17.0f);
    EXPECT_SAME_FLOAT(s.model[0].r2adj, -0.5f); // R^2 = 0, factor 3 / 2
    EXPECT_SAME_FLOAT(s.model[0].tSNR, 3.5f / std::sqrt(17.0f / 3.0f));

    // Model 2 removes the step (2 * step), keeping the constant's share.
    const float expectedCleaned[4] = {3, 4, 3, 4};
    for (int32_t v = 0; v < 4; ++v) {
        EXPECT_SAME_FLOAT(s.model[1].cleaned[v], expectedCleaned[v]);
    }
    EXPECT_SAME_FLOAT(s.model[1].sse, 1.0f);
    EXPECT_SAME_FLOAT(s.model[1].tSNR, 3.5f / std::sqrt(1.0f / 3.0f));
    const float r2 = 1.0f - 1.0f / 17.0f;
    EXPECT_SAME_FLOAT(s.model[1].r2adj, 1.0f - (1.0f - r2) * 3.0f);

    // F = ((17 - 1) / (2 - 1)) / (1 / (4 - 2)) = 32.
    EXPECT_TRUE(s.hasF);
    EXPECT_SAME_FLOAT(s.F, 32.0f);
}

TEST(VoxelStatistics, FewerPredictorsInModelTwoStillGivesF) {
    const Vector y = vectorOf({1, 2, 5, 6});
    const PreparedModel models[2] = {stepModel(), constantModel(4)};
    const VoxelStatistics s = computeVoxelStatistics(y, models);
    ASSERT_TRUE(s.hasF);
    // ((1 - 17) / (1 - 2)) / (17 / (4 - 1))
    EXPECT_SAME_FLOAT(s.F, (-16.0f / -1.0f) / (17.0f / 3.0f));
}

TEST(VoxelStatistics, EqualColumnCountsLeaveFUnwritten) {
    const Vector y = vectorOf({1, 2, 5, 6});
    const PreparedModel models[2] = {stepModel(), stepModel()};
    const VoxelStatistics s = computeVoxelStatistics(y, models);
    EXPECT_FALSE(s.hasF);
    EXPECT_SAME_FLOAT(s.F, 0.0f);
}

TEST(VoxelStatisticsIEEE, StdDevFloorGivesSignedInfinityOrNaN) {
    // The step model cleans these courses to a constant: stdDev 0.
    const PreparedModel models[2] = {stepModel(), stepModel()};
    const VoxelStatistics positive = computeVoxelStatistics(vectorOf({1, 1, 5, 5}), models);
    EXPECT_TRUE(std::isinf(positive.model[0].tSNR) && positive.model[0].tSNR > 0);
    const VoxelStatistics negative = computeVoxelStatistics(vectorOf({-5, -5, -1, -1}), models);
    EXPECT_TRUE(std::isinf(negative.model[0].tSNR) && negative.model[0].tSNR < 0);
    const VoxelStatistics zero = computeVoxelStatistics(vectorOf({-2, -2, 2, 2}), models);
    EXPECT_TRUE(std::isnan(zero.model[0].tSNR));
}

TEST(VoxelStatisticsIEEE, ConstantCourseHasNaNRSquared) {
    // SST = 0 and SSE = 0: R^2 = 1 - 0/0.
    const PreparedModel models[2] = {constantModel(4), stepModel()};
    const VoxelStatistics s = computeVoxelStatistics(vectorOf({5, 5, 5, 5}), models);
    EXPECT_TRUE(std::isnan(s.model[0].r2adj));
    EXPECT_TRUE(std::isnan(s.model[1].r2adj));
    // SSE2 = 0: F is the IEEE quotient by zero, here 0/0.
    EXPECT_TRUE(std::isnan(s.F));
}

TEST(VoxelStatisticsIEEE, ZeroResidualOfModelTwoMakesFInfinite) {
    // y is exactly 3.5 + 2 * step: model 2 fits it exactly.
    const PreparedModel models[2] = {constantModel(4), stepModel()};
    const VoxelStatistics s = computeVoxelStatistics(vectorOf({1.5f, 1.5f, 5.5f, 5.5f}), models);
    EXPECT_SAME_FLOAT(s.model[1].sse, 0.0f);
    EXPECT_TRUE(std::isinf(s.F) && s.F > 0);
}

TEST(VoxelStatisticsIEEE, NEqualsPPlusOneMakesTheAdjustmentInfinite) {
    // n = 3, p = 2: factor (3 - 1) / ((3 - 2) - 1) = 2 / 0.
    PreparedModel trend;
    trend.X = matrixOf(3, 2, {-1, 1, 0, 1, 1, 1});
    trend.P = matrixOf(2, 3, {-0.5f, 0.0f, 0.5f, 1.0f / 3, 1.0f / 3, 1.0f / 3});
    trend.confoundSelector = vectorOf({1.0f, 0.0f});
    const PreparedModel models[2] = {constantModel(3), trend};
    const VoxelStatistics s = computeVoxelStatistics(vectorOf({1, 4, 2}), models);
    EXPECT_TRUE(std::isinf(s.model[1].r2adj) && s.model[1].r2adj < 0);
}

TEST(VoxelStatisticsIEEE, SingleTimePointHasZeroStdDev) {
    const PreparedModel models[2] = {constantModel(1), constantModel(1)};
    const VoxelStatistics s = computeVoxelStatistics(vectorOf({7}), models);
    EXPECT_TRUE(std::isinf(s.model[0].tSNR));
}

namespace {

// The voxel arithmetic written out with plain loops over raw arrays, so that a
// mix-up of operands, matrices or summation order in the library shows.
struct LoopResult {
    float sse, tSNR, r2adj;
    std::vector<float> cleaned;
};

float loopSum(const std::vector<float>& v) {
    float s = v[0];
    for (std::size_t i = 1; i < v.size(); ++i) s = s + v[i];
    return s;
}

std::vector<float> loopMatVec(const Matrix& a, const std::vector<float>& v) {
    std::vector<float> out(static_cast<std::size_t>(a.rows()));
    for (int32_t r = 0; r < a.rows(); ++r) {
        float acc = a(r, 0) * v[0];
        for (int32_t k = 1; k < a.cols(); ++k) acc = acc + a(r, k) * v[static_cast<std::size_t>(k)];
        out[static_cast<std::size_t>(r)] = acc;
    }
    return out;
}

LoopResult loopModel(const std::vector<float>& y, float sst, const PreparedModel& m) {
    const std::size_t n = y.size();
    const float nf = static_cast<float>(n);
    std::vector<float> beta = loopMatVec(m.P, y);
    std::vector<float> fit = loopMatVec(m.X, beta);
    std::vector<float> selected(beta.size());
    for (std::size_t j = 0; j < beta.size(); ++j) selected[j] = beta[j] * m.confoundSelector[static_cast<int32_t>(j)];
    std::vector<float> confound = loopMatVec(m.X, selected);
    LoopResult r;
    r.cleaned.resize(n);
    std::vector<float> resid2(n);
    for (std::size_t t = 0; t < n; ++t) {
        r.cleaned[t] = y[t] - confound[t];
        const float e = y[t] - fit[t];
        resid2[t] = e * e;
    }
    r.sse = loopSum(resid2);
    const float mean = loopSum(r.cleaned) / nf;
    float ss = 0.0f;
    for (std::size_t t = 0; t < n; ++t) {
        const float d = r.cleaned[t] - mean;
        ss = ss + d * d;
    }
    const float sd = ss > 1e-4f ? std::sqrt(ss / static_cast<float>(n - 1)) : 0.0f;
    r.tSNR = mean / sd;
    const float p = static_cast<float>(m.X.cols());
    const float r2 = 1.0f - r.sse / sst;
    r.r2adj = 1.0f - (1.0f - r2) * ((nf - 1.0f) / ((nf - p) - 1.0f));
    return r;
}

PreparedModel randomModel(std::mt19937& rng, int32_t n, int32_t p, int32_t firstConfound) {
    std::normal_distribution<float> normal(0.0f, 1.0f);
    PreparedModel m;
    m.X = Matrix(n, p, 1.0f);
    m.P = Matrix(p, n, 0.0f);
    for (int32_t c = 0; c + 1 < p; ++c)
        for (int32_t r = 0; r < n; ++r) m.X(r, c) = normal(rng);
    for (int32_t c = 0; c < n; ++c)
        for (int32_t r = 0; r < p; ++r) m.P(r, c) = normal(rng) * 0.05f;
    m.confoundSelector = Vector(p, 0.0f);
    for (int32_t j = firstConfound; j < p - 1; ++j) m.confoundSelector[j] = 1.0f;
    return m;
}

} // namespace

TEST(VoxelStatistics, BitIdenticalToPlainLoopsOnRandomVoxels) {
    std::mt19937 rng(20261208);
    const int32_t n = 57;
    const PreparedModel models[2] = {randomModel(rng, n, 5, 2), randomModel(rng, n, 9, 2)};
    std::normal_distribution<float> noise(100.0f, 7.0f);
    for (int voxel = 0; voxel < 50; ++voxel) {
        std::vector<float> y(n);
        for (float& v : y) v = noise(rng);
        const Vector yv = vectorOf(y);
        const VoxelStatistics s = computeVoxelStatistics(yv, models);

        const float mean = loopSum(y) / static_cast<float>(n);
        std::vector<float> dev2(y.size());
        for (std::size_t t = 0; t < y.size(); ++t) dev2[t] = (y[t] - mean) * (y[t] - mean);
        const float sst = loopSum(dev2);
        const LoopResult r[2] = {loopModel(y, sst, models[0]), loopModel(y, sst, models[1])};
        for (int i = 0; i < 2; ++i) {
            EXPECT_SAME_FLOAT(s.model[i].sse, r[i].sse);
            EXPECT_SAME_FLOAT(s.model[i].tSNR, r[i].tSNR);
            EXPECT_SAME_FLOAT(s.model[i].r2adj, r[i].r2adj);
            for (int32_t t = 0; t < n; ++t)
                EXPECT_SAME_FLOAT(s.model[i].cleaned[t], r[i].cleaned[static_cast<std::size_t>(t)]);
        }
        const float f = ((r[0].sse - r[1].sse) / (9.0f - 5.0f)) / (r[1].sse / (static_cast<float>(n) - 9.0f));
        EXPECT_SAME_FLOAT(s.F, f);
    }
}

TEST(VoxelStatistics, VariationAboveTheStdDevFloorCounts) {
    // y = 10.125 -+ 0.125, every step exact in float: the squared deviations
    // sum to 0.0625, above the 1e-4 floor and below 1, so the sample
    // deviation is sqrt(0.0625 / 3) and the tSNR finite. Model 1 (constant
    // only) removes nothing; model 2 removes nothing of this y either.
    const Vector y = vectorOf({10.0f, 10.25f, 10.0f, 10.25f});
    const PreparedModel models[2] = {constantModel(4), constantModel(4)};
    const VoxelStatistics s = computeVoxelStatistics(y, models);
    const float expected = 10.125f / std::sqrt(0.0625f / 3.0f);
    EXPECT_SAME_FLOAT(s.model[0].tSNR, expected);
    EXPECT_SAME_FLOAT(s.model[1].tSNR, expected);

    // The plain loops, which form the floor themselves.
    const std::vector<float> values = {10.0f, 10.25f, 10.0f, 10.25f};
    const float sst = 0.0625f;
    EXPECT_SAME_FLOAT(s.model[0].tSNR, loopModel(values, sst, models[0]).tSNR);

    // The float64 least-squares fit, which has no floor at all.
    const lsref::ReferenceModel references[2] = {{models[0].X, models[0].confoundSelector, 1},
                                                 {models[1].X, models[1].confoundSelector, 1}};
    const lsref::VoxelReference want = lsref::referenceStatistics(y, references);
    EXPECT_NEAR(s.model[0].tSNR, want.model[0].tSNR, 1e-5 * want.model[0].tSNR);
}

TEST(VoxelStatistics, AdjustedR2FactorIsTheReferencesQuotient) {
    // (n - 1) / ((n - p) - 1): 19 / 14 for n = 20, p = 5.
    EXPECT_SAME_FLOAT(adjustedR2Factor(20.0f, 5.0f), 19.0f / 14.0f);
    EXPECT_TRUE(std::isinf(adjustedR2Factor(3.0f, 2.0f)));
}
