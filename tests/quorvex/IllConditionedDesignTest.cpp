// Fits of ill-conditioned designs: whatever X'X's condition, every voxel's
// tSNR, SSE, adjusted R² and F must match a float64 least-squares fit of the
// same float data, while well-conditioned designs keep the float inverse of
// X'X bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "GeneratedDesigns.h"
#include "LeastSquaresReference.h"
#include "linalg/DoubleMatrix.h"
#include "linalg/Matrix.h"
#include "linalg/Svd.h"
#include "quorvex/ModelPreparation.h"
#include "quorvex/VoxelStatistics.h"
#include "tests/support/FloatBits.h"

namespace {

using gendesign::Design;

constexpr int32_t kVoxels = 64;
constexpr double kTolerance = 1e-4;

using testsupport::bitsOf;

const gendesign::Regressors& regressors() {
    static const gendesign::Regressors r = gendesign::makeRegressors(20260);
    return r;
}

const std::vector<Vector>& timeCourses() {
    static const std::vector<Vector> y = gendesign::voxelTimeCourses(regressors(), kVoxels, 4711);
    return y;
}

// Today's route without the residual test: (X'X)^-1 X' in float.
Matrix floatRoute(const Matrix& X) {
    const Matrix Xt = X.transposed();
    return (Xt * X).inverse() * Xt;
}

struct MaxErrors {
    double tSNR = 0.0;  // relative
    double sse = 0.0;   // relative
    double r2adj = 0.0; // absolute
    double F = 0.0;     // relative
    bool within(double limit) const { return tSNR <= limit && sse <= limit && r2adj <= limit && F <= limit; }
};

std::ostream& operator<<(std::ostream& os, const MaxErrors& e) {
    return os << "tSNR " << e.tSNR << " rel, SSE " << e.sse << " rel, R2adj " << e.r2adj << ", F " << e.F << " rel";
}

double relative(double got, double want) { return std::fabs(got - want) / std::fabs(want); }

void widen(double& current, double error) {
    // A NaN error is a failure, not something to skip.
    if (std::isnan(error) || error > current) current = std::isnan(error) ? INFINITY : error;
}

// Both models fitted with the given pseudo-inverses, every voxel compared with
// the float64 fit of the reference designs.
MaxErrors fitErrors(const PreparedModel (&models)[2], const lsref::ReferenceModel (&references)[2]) {
    MaxErrors e;
    for (const Vector& y : timeCourses()) {
        const VoxelStatistics got = computeVoxelStatistics(y, models);
        const lsref::VoxelReference want = lsref::referenceStatistics(y, references);
        for (int m = 0; m < 2; ++m) {
            widen(e.tSNR, relative(got.model[m].tSNR, want.model[m].tSNR));
            widen(e.sse, relative(got.model[m].sse, want.model[m].sse));
            widen(e.r2adj, std::fabs(got.model[m].r2adj - want.model[m].r2adj));
        }
        if (got.hasF) widen(e.F, relative(got.F, want.F));
    }
    return e;
}

PreparedModel prepared(const Design& d, const Matrix& P) {
    return PreparedModel{gendesign::matrixOf(d), P, gendesign::selectorOf(d)};
}

lsref::ReferenceModel reference(const Design& d) {
    const Matrix X = gendesign::matrixOf(d);
    return lsref::ReferenceModel{X, gendesign::selectorOf(d), X.cols()};
}

struct Comparison {
    MaxErrors before; // the float inverse of X'X
    MaxErrors after;  // the plug-in's preparation
    ModelPseudoInverse model2;
};

Comparison compare(const Design& d1, const Design& d2) {
    const Matrix X1 = gendesign::matrixOf(d1);
    const Matrix X2 = gendesign::matrixOf(d2);
    const lsref::ReferenceModel references[2] = {reference(d1), reference(d2)};
    const PreparedModel floatModels[2] = {prepared(d1, floatRoute(X1)), prepared(d2, floatRoute(X2))};
    Comparison c{fitErrors(floatModels, references), MaxErrors(), prepareModelPseudoInverse(X2)};
    const PreparedModel models[2] = {prepared(d1, pseudoInverse(X1)), prepared(d2, c.model2.P)};
    c.after = fitErrors(models, references);
    return c;
}

// cond(X'X) = (largest / smallest singular value of X)^2, in double.
double conditionOfGram(const Matrix& X) {
    DoubleMatrix a(X.rows(), X.cols(), 0.0);
    for (int32_t c = 0; c < X.cols(); ++c) {
        for (int32_t r = 0; r < X.rows(); ++r) a(r, c) = X(r, c);
    }
    std::vector<double> w;
    DoubleMatrix v;
    if (!linalg::svd(a, w, v)) return std::nan("");
    const auto range = std::minmax_element(w.begin(), w.end());
    const double ratio = *range.second / *range.first;
    return ratio * ratio;
}

void report(const std::string& name, const Matrix& X, const Comparison& c) {
    std::cout << "[ design  ] " << name << ": cond(X'X) " << conditionOfGram(X) << ", residual " << c.model2.residual
              << (c.model2.doublePrecision ? ", double route" : ", float route") << "\n"
              << "[ before  ] " << c.before << "\n"
              << "[ after   ] " << c.after << std::endl;
}

void expectAccurate(const std::string& name, const Design& d1, const Design& d2, bool floatRouteFails) {
    const Comparison c = compare(d1, d2);
    report(name, gendesign::matrixOf(d2), c);
    EXPECT_TRUE(c.model2.doublePrecision) << name;
    EXPECT_GT(c.model2.residual, kInversionResidualLimit) << name;
    EXPECT_TRUE(c.after.within(kTolerance)) << name << ": " << c.after;
    if (floatRouteFails) {
        // The comparison detects the fault it guards against.
        EXPECT_FALSE(c.before.within(kTolerance)) << name << ": " << c.before;
    }
}

TEST(IllConditionedDesign, SixMotionParametersAndCosines) {
    const auto& r = regressors();
    expectAccurate("2 task + 6 motion + 5 cosines", gendesign::tasksOnly(r), gendesign::motionAndCosines(r, 1.0),
                   false);
}

TEST(IllConditionedDesign, MotionInUnitsTenTimesSmaller) {
    const auto& r = regressors();
    expectAccurate("2 task + 6 motion/10 + 5 cosines", gendesign::tasksOnly(r), gendesign::motionAndCosines(r, 0.1),
                   true);
}

TEST(IllConditionedDesign, RawLinearTrend) {
    const auto& r = regressors();
    expectAccurate("2 task + 6 motion + raw trend", gendesign::tasksOnly(r), gendesign::motionAndTrend(r), true);
}

TEST(IllConditionedDesign, TwentyFourMotionTermsAndCosines) {
    const auto& r = regressors();
    expectAccurate("2 task + 24 motion + 5 cosines", gendesign::tasksOnly(r), gendesign::expandedMotionAndCosines(r),
                   true);
}

TEST(IllConditionedDesign, SixAgainstTwentyFourMotionParameters) {
    const auto& r = regressors();
    expectAccurate("6 vs 24 motion", gendesign::motionAndCosines(r, 1.0), gendesign::expandedMotionAndCosines(r), true);
}

TEST(IllConditionedDesign, WellConditionedDesignKeepsTheFloatInverseBitForBit) {
    const auto& r = regressors();
    for (const Design& d : {gendesign::tasksOnly(r), gendesign::tasksAndCosines(r)}) {
        const Matrix X = gendesign::matrixOf(d);
        const ModelPseudoInverse got = prepareModelPseudoInverse(X);
        EXPECT_FALSE(got.doublePrecision);
        EXPECT_LE(got.residual, kInversionResidualLimit);
        const Matrix want = floatRoute(X);
        ASSERT_EQ(got.P.rows(), want.rows());
        ASSERT_EQ(got.P.cols(), want.cols());
        for (int32_t i = 0; i < want.count(); ++i) {
            ASSERT_EQ(bitsOf(got.P.data()[i]), bitsOf(want.data()[i])) << "element " << i;
        }
    }
}

TEST(IllConditionedDesign, DuplicatedPredictorGivesTheLeastSquaresFit) {
    const auto& r = regressors();
    const Design base = gendesign::motionAndCosines(r, 1.0);
    Design duplicated = base;
    duplicated.columns.insert(duplicated.columns.end() - 1, base.columns[3]);
    const Matrix X = gendesign::matrixOf(duplicated);
    const ModelPseudoInverse model2 = prepareModelPseudoInverse(X);
    EXPECT_TRUE(model2.doublePrecision);
    const Design d1 = gendesign::tasksOnly(r);
    const PreparedModel models[2] = {prepared(d1, pseudoInverse(gendesign::matrixOf(d1))),
                                     prepared(duplicated, model2.P)};
    // The same column space without the copy; the copy still counts in p.
    lsref::ReferenceModel withoutCopy = reference(base);
    withoutCopy.p = X.cols();
    const lsref::ReferenceModel references[2] = {reference(d1), withoutCopy};
    const MaxErrors e = fitErrors(models, references);
    std::cout << "[ dup     ] residual " << model2.residual << ", " << e << std::endl;
    EXPECT_TRUE(e.within(kTolerance)) << e;
}

TEST(IllConditionedDesign, InfiniteValueStillFailsTheInversion) {
    const auto& r = regressors();
    Matrix X = gendesign::matrixOf(gendesign::motionAndCosines(r, 1.0));
    X(17, 4) = std::numeric_limits<float>::infinity();
    try {
        prepareModelPseudoInverse(X);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Matrix inversion failed");
    }
}

TEST(IllConditionedDesign, NaNResidualKeepsTheFloatInverse) {
    Matrix X(3, 1, 1.0f);
    X(1, 0) = std::numeric_limits<float>::quiet_NaN();
    const ModelPseudoInverse got = prepareModelPseudoInverse(X);
    EXPECT_TRUE(std::isnan(got.residual));
    EXPECT_FALSE(got.doublePrecision);
    const Matrix want = floatRoute(X);
    for (int32_t i = 0; i < want.count(); ++i) {
        EXPECT_EQ(bitsOf(got.P.data()[i]), bitsOf(want.data()[i])) << "element " << i;
    }
}

Matrix square(int32_t n, const std::vector<float>& rowMajor) {
    Matrix m(n, n, 0.0f);
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) m(i, j) = rowMajor[static_cast<std::size_t>(i * n + j)];
    }
    return m;
}

TEST(InversionResidual, LargestDeviationFromTheIdentityInDouble) {
    const Matrix identity = square(2, {1, 0, 0, 1});
    EXPECT_EQ(inversionResidual(identity, identity), 0.0);
    // G * Ginverse = [[1, 0.25], [0, 1]] - row-major - off by 0.25 at (0, 1).
    EXPECT_EQ(inversionResidual(identity, square(2, {1, 0.25f, 0, 1})), 0.25);
    // Products taken in double: 3 * (1/3 in float) differs from 1 by 2^-25 (about 3e-8).
    const float third = 1.0f / 3.0f;
    EXPECT_EQ(inversionResidual(square(1, {3}), square(1, {third})), std::fabs(3.0 * third - 1.0));
    // A deviation on the diagonal counts like any other.
    EXPECT_EQ(inversionResidual(identity, square(2, {1, 0, 0, 0.99f})), 1.0 - static_cast<double>(0.99f));
}

TEST(InversionResidual, NaNAnywhereGivesNaN) {
    const Matrix identity = square(2, {1, 0, 0, 1});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(std::isnan(inversionResidual(identity, square(2, {1, 5, 0, nan}))));
    EXPECT_TRUE(std::isnan(inversionResidual(identity, square(2, {nan, 0, 0, 1}))));
}

TEST(IllConditionedMessage, NamesTheFileAndTheResidual) {
    EXPECT_EQ(illConditionedMessage("C:\\data\\run 1\\motion24.sdm", 0.5),
              ">  Design motion24.sdm is ill-conditioned for single precision (residual 0.5); fitted with a "
              "double-precision pseudo-inverse");
    EXPECT_EQ(illConditionedMessage("/d/m.sdm", 1234567.0),
              ">  Design m.sdm is ill-conditioned for single precision (residual 1.23457e+06); fitted with a "
              "double-precision pseudo-inverse");
}

} // namespace
