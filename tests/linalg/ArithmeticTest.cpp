// The arithmetic of Matrix, Vector and Volume, checked bit for bit on inputs
// where any other summation order, accumulator start, fused or widened
// product gives a different float.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "linalg/Matrix.h"
#include "linalg/Vector.h"
#include "linalg/Volume.h"
#include "tests/support/FloatBits.h"

namespace {

using testsupport::bitsOf;
using testsupport::floatOf;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

Vector vectorOf(std::initializer_list<float> values) {
    Vector v(static_cast<int32_t>(values.size()));
    int32_t i = 0;
    for (float x : values) {
        v[i++] = x;
    }
    return v;
}

// Summed from index 0, 5 + 1e8 rounds to 1e8 + 8 and the result is 11;
// summed from the top it is 5; pairwise, or k = 0 first and then from the
// top, it is 8.
Matrix orderSensitiveRow() {
    Matrix a(1, 4, 0.0f);
    a(0, 0) = 5.0f;
    a(0, 1) = 1e8f;
    a(0, 2) = -1e8f;
    a(0, 3) = 3.0f;
    return a;
}

TEST(MatrixProduct, SumsInIncreasingInnerIndex) {
    const Matrix a = orderSensitiveRow();
    const Matrix b(4, 2, 1.0f);
    const Matrix c = a * b;
    ASSERT_EQ(c.rows(), 1);
    ASSERT_EQ(c.cols(), 2);
    EXPECT_EQ(c(0, 0), 11.0f);
    EXPECT_EQ(c(0, 1), 11.0f);
}

TEST(MatrixProduct, ProductsAreRoundedBeforeAdding) {
    // x*x = 1 + 2^-11 + 2^-24 rounds to 1 + 2^-11, cancelling the first term
    // exactly; a fused multiply-add or a double accumulator leaves 2^-24.
    const float x = 1.0f + std::ldexp(1.0f, -12);
    Matrix a(1, 2, 0.0f);
    a(0, 0) = -(1.0f + std::ldexp(1.0f, -11));
    a(0, 1) = x;
    Matrix b(2, 1, 1.0f);
    b(1, 0) = x;
    EXPECT_EQ(bitsOf((a * b)(0, 0)), 0u);

    Vector v(2, 1.0f);
    v[1] = x;
    EXPECT_EQ(bitsOf((a * v)[0]), 0u);
}

TEST(MatrixProduct, AccumulatorStartsAtTheFirstProduct) {
    // -1 * 0 is -0; an accumulator started at +0 would give +0.
    const Matrix a(2, 1, -1.0f);
    const Matrix b(1, 3, 0.0f);
    const Matrix c = a * b;
    ASSERT_EQ(c.rows(), 2);
    ASSERT_EQ(c.cols(), 3);
    for (int32_t i = 0; i < c.count(); ++i) {
        EXPECT_EQ(bitsOf(c.data()[i]), 0x80000000u);
    }
    EXPECT_EQ(bitsOf((a * Vector(1, 0.0f))[1]), 0x80000000u);
}

TEST(MatrixProduct, LocatesElementsColumnMajor) {
    Matrix a(2, 2, 0.0f); // (1 2; 3 4)
    a(0, 0) = 1.0f;
    a(0, 1) = 2.0f;
    a(1, 0) = 3.0f;
    a(1, 1) = 4.0f;
    Matrix b(2, 1, 0.0f);
    b(0, 0) = 5.0f;
    b(1, 0) = 6.0f;
    const Matrix c = a * b;
    EXPECT_EQ(c(0, 0), 17.0f);
    EXPECT_EQ(c(1, 0), 39.0f);
    const Vector y = a * vectorOf({5.0f, 6.0f});
    ASSERT_EQ(y.size(), 2);
    EXPECT_EQ(y[0], 17.0f);
    EXPECT_EQ(y[1], 39.0f);
}

TEST(MatrixProduct, EmptyInnerDimensionGivesZeros) {
    const Matrix c = Matrix(2, 0, 1.0f) * Matrix(0, 3, 1.0f);
    ASSERT_EQ(c.rows(), 2);
    ASSERT_EQ(c.cols(), 3);
    for (int32_t i = 0; i < c.count(); ++i) {
        EXPECT_EQ(bitsOf(c.data()[i]), 0u);
    }
    const Vector y = Matrix(2, 0, 1.0f) * Vector();
    ASSERT_EQ(y.size(), 2);
    EXPECT_EQ(bitsOf(y[1]), 0u);
}

TEST(MatrixTimesVector, SumsInIncreasingColumnIndex) {
    const Vector y = orderSensitiveRow() * Vector(4, 1.0f);
    ASSERT_EQ(y.size(), 1);
    EXPECT_EQ(y[0], 11.0f);
    const Vector z = Matrix(2, 4, 1.0f) * vectorOf({5.0f, 1e8f, -1e8f, 3.0f});
    ASSERT_EQ(z.size(), 2);
    EXPECT_EQ(z[1], 11.0f);
}

TEST(Transpose, SwapsIndicesBitForBit) {
    Matrix row(1, 4, 0.0f);
    for (int32_t c = 0; c < 4; ++c) {
        row(0, c) = static_cast<float>(c) - 1.5f;
    }
    row(0, 3) = floatOf(0xFFC00001u);
    const Matrix column = row.transposed();
    ASSERT_EQ(column.rows(), 4);
    ASSERT_EQ(column.cols(), 1);
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(bitsOf(column.data()[i]), bitsOf(row.data()[i]));
    }
    Matrix m(2, 3, 0.0f);
    m(1, 2) = 8.0f;
    m(0, 1) = 3.0f;
    const Matrix t = m.transposed();
    EXPECT_EQ(t(2, 1), 8.0f);
    EXPECT_EQ(t(1, 0), 3.0f);
    const Matrix tt = t.transposed();
    for (int32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(bitsOf(tt.data()[i]), bitsOf(m.data()[i]));
    }
}

TEST(VectorElementwise, ResultTakesTheLeftLength) {
    const Vector a = vectorOf({1.0f, 2.0f, 3.0f});
    const Vector b = vectorOf({4.0f, 5.0f, 6.0f, 7.0f});
    const Vector p = a * b;
    ASSERT_EQ(p.size(), 3);
    EXPECT_EQ(p[2], 18.0f);
    const Vector d = a - b;
    ASSERT_EQ(d.size(), 3);
    EXPECT_EQ(d[0], -3.0f);
    const Vector s = a - 0.5f;
    EXPECT_EQ(s[1], 1.5f);
    const Vector q = vectorOf({-3.0f, 0.5f}).squared();
    EXPECT_EQ(q[0], 9.0f);
    EXPECT_EQ(q[1], 0.25f);
}

TEST(VectorReductions, SumAndMean) {
    EXPECT_EQ(vectorOf({5.0f, 1e8f, -1e8f, 3.0f}).sum(), 11.0f);
    EXPECT_EQ(bitsOf(vectorOf({-0.0f}).sum()), 0x80000000u);
    EXPECT_EQ(vectorOf({1.0f, 2.0f, 3.0f, 4.0f}).mean(), 2.5f);
    // The mean divides the sequential sum, in which each 1 is lost against
    // 1e8; summed from the top the five ones would reach 1e8 + 8.
    EXPECT_EQ(bitsOf(vectorOf({1e8f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f}).mean()), bitsOf(1e8f / 6.0f));
}

TEST(VectorReductions, MinSkipsNaNUnlessFirst) {
    EXPECT_EQ(vectorOf({3.0f, 1.0f, 1.0f, 2.0f}).min(), 1.0f);
    EXPECT_EQ(vectorOf({3.0f, kNaN, 2.0f}).min(), 2.0f);
    EXPECT_EQ(vectorOf({3.0f, 2.0f, kNaN}).min(), 2.0f);
    EXPECT_TRUE(std::isnan(vectorOf({kNaN, 1.0f, -5.0f}).min()));
    // -0 and +0 are equal: the earlier one stays.
    EXPECT_EQ(bitsOf(vectorOf({0.0f, -0.0f}).min()), 0u);
    EXPECT_EQ(bitsOf(vectorOf({-0.0f, 0.0f}).min()), 0x80000000u);
}

TEST(VectorReductions, StdDevIsTheSampleDeviation) {
    EXPECT_EQ(bitsOf(vectorOf({0.0f, 1.0f}).stdDev()), bitsOf(std::sqrt(0.5f)));
    EXPECT_EQ(bitsOf(vectorOf({1.0f, 2.0f, 3.0f, 4.0f}).stdDev()), bitsOf(std::sqrt(5.0f / 3.0f)));
    // Deviations from the mean, not a sum of squares minus n mean^2, which
    // loses everything in float at this offset.
    EXPECT_EQ(bitsOf(vectorOf({10000.0f, 10001.0f}).stdDev()), bitsOf(std::sqrt(0.5f)));
    EXPECT_EQ(bitsOf(vectorOf({5.0f}).stdDev()), 0u);
    EXPECT_EQ(bitsOf(vectorOf({1.0f, 1.0f, 1.0f}).stdDev()), 0u);
}

TEST(VectorReductions, StdDevFloorIsStrict) {
    ASSERT_EQ(bitsOf(1e-4f), 0x38D1B717u);
    const float d = floatOf(0x3BE7B469u);
    const float e = floatOf(0x36000001u);
    // Mean 0; the squared deviations add up to exactly the floor.
    ASSERT_EQ(bitsOf(((d * d + d * d) + e * e) + e * e), 0x38D1B717u);
    EXPECT_EQ(bitsOf(vectorOf({d, -d, e, -e}).stdDev()), 0u);

    const float below = floatOf(0x3BE7B46Au); // squares sum to one float under
    ASSERT_EQ(bitsOf(below * below + below * below), 0x38D1B716u);
    EXPECT_EQ(bitsOf(vectorOf({below, -below}).stdDev()), 0u);

    const float above = floatOf(0x3BE7B46Bu); // one float over
    const float ss = above * above + above * above;
    ASSERT_EQ(bitsOf(ss), 0x38D1B718u);
    EXPECT_EQ(bitsOf(vectorOf({above, -above}).stdDev()), bitsOf(std::sqrt(ss / 1.0f)));
}

TEST(VectorReductions, EmptyVectorsGiveDefinedValues) {
    const Vector empty;
    EXPECT_EQ(empty.sum(), 0.0f);
    EXPECT_TRUE(std::isnan(empty.mean()));
    EXPECT_TRUE(std::isnan(empty.min()));
    EXPECT_EQ(empty.stdDev(), 0.0f);
}

TEST(VolumeArithmetic, DifferenceAndMax) {
    Volume a(VolumeSize{2, 2, 1}, 3.0f);
    Volume b(VolumeSize{2, 2, 1}, 1.0f);
    a[2] = 10.0f;
    b[3] = 0.5f;
    const Volume d = a - b;
    EXPECT_EQ(d.dim().x, 2);
    EXPECT_EQ(d[0], 2.0f);
    EXPECT_EQ(d[2], 9.0f);
    EXPECT_EQ(d[3], 2.5f);
    EXPECT_EQ(d.max(), 9.0f);
}

TEST(VolumeArithmetic, MaxTakesFirstOfEqualAndNaNOnlyFirst) {
    Volume zeros(VolumeSize{3, 1, 1}, 0.0f);
    zeros[1] = -0.0f;
    EXPECT_EQ(bitsOf(zeros.max()), 0u);
    zeros[0] = -0.0f;
    zeros[1] = 0.0f;
    EXPECT_EQ(bitsOf(zeros.max()), 0x80000000u);

    Volume v(VolumeSize{1, 3, 1}, 1.0f);
    v[1] = kNaN;
    EXPECT_EQ(v.max(), 1.0f);
    v[0] = kNaN;
    v[2] = 5.0f;
    EXPECT_TRUE(std::isnan(v.max()));
    EXPECT_EQ(Volume(VolumeSize{0, 4, 4}, 1.0f).max(), 0.0f);
}

} // namespace
