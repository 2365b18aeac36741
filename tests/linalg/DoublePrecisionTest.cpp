// The decomposition instantiated for double, and the double-precision
// pseudo-inverse built on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "linalg/DoubleMatrix.h"
#include "linalg/DoublePseudoInverse.h"
#include "linalg/Matrix.h"
#include "linalg/Svd.h"

namespace {

double uniform(std::mt19937& gen) { return -3.0 + 6.0 * (static_cast<double>(gen()) / 4294967296.0); }

DoubleMatrix randomDouble(int32_t rows, int32_t cols, uint32_t seed) {
    std::mt19937 gen(seed);
    DoubleMatrix m(rows, cols, 0.0);
    for (int32_t c = 0; c < cols; ++c) {
        for (int32_t r = 0; r < rows; ++r) m(r, c) = uniform(gen);
    }
    return m;
}

Matrix randomFloat(int32_t rows, int32_t cols, uint32_t seed) {
    std::mt19937 gen(seed);
    Matrix m(rows, cols, 0.0f);
    for (int32_t c = 0; c < cols; ++c) {
        for (int32_t r = 0; r < rows; ++r) m(r, c) = static_cast<float>(uniform(gen));
    }
    return m;
}

// max |(A B)(i, j) - C(i, j)| with A = P (p x n), B = X (n x p) in double.
double deviationOfProduct(const Matrix& a, const Matrix& b, const Matrix& want) {
    double worst = 0.0;
    for (int32_t i = 0; i < a.rows(); ++i) {
        for (int32_t j = 0; j < b.cols(); ++j) {
            double s = 0.0;
            for (int32_t k = 0; k < a.cols(); ++k) s += static_cast<double>(a(i, k)) * b(k, j);
            worst = std::max(worst, std::fabs(s - want(i, j)));
        }
    }
    return worst;
}

Matrix identity(int32_t n) {
    Matrix m(n, n, 0.0f);
    for (int32_t i = 0; i < n; ++i) m(i, i) = 1.0f;
    return m;
}

TEST(DoubleScalars, PythagAndSignInDouble) {
    EXPECT_EQ(linalg::pythag(3.0, 4.0), 5.0);
    // Beyond float's range, so the double overload must have been taken.
    EXPECT_EQ(linalg::pythag(1e300, 1e300), 1e300 * std::sqrt(2.0));
    EXPECT_EQ(linalg::pythag(0.0, -0.0), 0.0);
    EXPECT_EQ(linalg::sign(-3.0, 2.0), 3.0);
    EXPECT_EQ(linalg::sign(3.0, -1e-300), -3.0);
}

TEST(DoubleSvd, OneByOneMatchesTheFloatFactors) {
    DoubleMatrix a(1, 1, 2.0);
    std::vector<double> w;
    DoubleMatrix v;
    ASSERT_TRUE(linalg::svd(a, w, v));
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(a(0, 0), -1.0);
    EXPECT_EQ(w[0], 2.0);
    EXPECT_EQ(v(0, 0), -1.0);
}

TEST(DoubleSvd, ReconstructsToDoubleAccuracy) {
    const DoubleMatrix a = randomDouble(12, 5, 7);
    DoubleMatrix u = a;
    std::vector<double> w;
    DoubleMatrix v;
    ASSERT_TRUE(linalg::svd(u, w, v));
    ASSERT_EQ(w.size(), 5u);
    ASSERT_EQ(v.rows(), 5);
    ASSERT_EQ(v.cols(), 5);
    double worst = 0.0;
    for (int32_t r = 0; r < 12; ++r) {
        for (int32_t c = 0; c < 5; ++c) {
            double s = 0.0;
            for (int32_t k = 0; k < 5; ++k) s += u(r, k) * w[static_cast<std::size_t>(k)] * v(c, k);
            worst = std::max(worst, std::fabs(s - a(r, c)));
        }
    }
    // Far below anything a float decomposition could reach (about 1e-6).
    EXPECT_LT(worst, 1e-13);
    double orthogonality = 0.0;
    for (int32_t i = 0; i < 5; ++i) {
        for (int32_t j = 0; j < 5; ++j) {
            double su = 0.0;
            double sv = 0.0;
            for (int32_t k = 0; k < 12; ++k) su += u(k, i) * u(k, j);
            for (int32_t k = 0; k < 5; ++k) sv += v(k, i) * v(k, j);
            const double delta = i == j ? 1.0 : 0.0;
            orthogonality = std::max({orthogonality, std::fabs(su - delta), std::fabs(sv - delta)});
        }
    }
    EXPECT_LT(orthogonality, 1e-14);
    for (double value : w) EXPECT_GE(value, 0.0);
}

TEST(DoublePseudoInverse, InvertsAFullRankMatrixFromTheLeft) {
    const Matrix x = randomFloat(20, 4, 3);
    const auto p = doublePseudoInverse(x);
    ASSERT_TRUE(p.has_value());
    ASSERT_EQ(p->rows(), 4);
    ASSERT_EQ(p->cols(), 20);
    EXPECT_LT(deviationOfProduct(*p, x, identity(4)), 1e-6);
}

TEST(DoublePseudoInverse, ColumnScalesDoNotMatter) {
    // Columns of very different sizes: a trend up to 99000, a constant and a
    // column below 0.01.
    Matrix x(100, 3, 1.0f);
    for (int32_t t = 0; t < 100; ++t) {
        x(t, 0) = static_cast<float>(t) * 1000.0f;
        x(t, 1) = 1e-3f * static_cast<float>((t * 37) % 11);
    }
    const auto p = doublePseudoInverse(x);
    ASSERT_TRUE(p.has_value());
    // Rounding P to float leaves (P X)(i, j) off by about 1e-7 * |X_j| / |X_i|;
    // relative to that the product is the identity.
    std::vector<double> norms(3, 0.0);
    for (int32_t c = 0; c < 3; ++c) {
        for (int32_t t = 0; t < 100; ++t) norms[c] += static_cast<double>(x(t, c)) * x(t, c);
        norms[c] = std::sqrt(norms[c]);
    }
    for (int32_t i = 0; i < 3; ++i) {
        for (int32_t j = 0; j < 3; ++j) {
            double s = 0.0;
            for (int32_t k = 0; k < 100; ++k) s += static_cast<double>((*p)(i, k)) * x(k, j);
            EXPECT_LT(std::fabs(s - (i == j ? 1.0 : 0.0)) * norms[i] / norms[j], 1e-5) << i << ", " << j;
        }
    }
}

TEST(DoublePseudoInverse, DuplicatedColumnSplitsItsShareAndReproducesX) {
    Matrix x = randomFloat(15, 3, 11);
    for (int32_t r = 0; r < 15; ++r) x(r, 2) = x(r, 1);
    const auto p = doublePseudoInverse(x);
    ASSERT_TRUE(p.has_value());
    // X P X = X, and the two copies get the same row of P.
    Matrix xp(15, 15, 0.0f);
    for (int32_t i = 0; i < 15; ++i) {
        for (int32_t j = 0; j < 15; ++j) {
            double s = 0.0;
            for (int32_t k = 0; k < 3; ++k) s += static_cast<double>(x(i, k)) * (*p)(k, j);
            xp(i, j) = static_cast<float>(s);
        }
    }
    EXPECT_LT(deviationOfProduct(xp, x, x), 1e-5);
    for (int32_t j = 0; j < 15; ++j) {
        EXPECT_NEAR((*p)(1, j), (*p)(2, j), 1e-6) << j;
        EXPECT_LT(std::fabs((*p)(1, j)), 10.0f) << j;
    }
}

TEST(DoublePseudoInverse, ZeroColumnsGetZeroRows) {
    Matrix x = randomFloat(10, 3, 5);
    for (int32_t r = 0; r < 10; ++r) x(r, 1) = 0.0f;
    const auto p = doublePseudoInverse(x);
    ASSERT_TRUE(p.has_value());
    for (int32_t j = 0; j < 10; ++j) EXPECT_EQ((*p)(1, j), 0.0f) << j;
    const auto zero = doublePseudoInverse(Matrix(6, 2, 0.0f));
    ASSERT_TRUE(zero.has_value());
    for (int32_t i = 0; i < zero->count(); ++i) EXPECT_EQ(zero->data()[i], 0.0f);
}

TEST(DoublePseudoInverse, NaNDoesNotConverge) {
    Matrix x = randomFloat(8, 3, 9);
    x(2, 1) = std::nanf("");
    EXPECT_FALSE(doublePseudoInverse(x).has_value());
}

} // namespace
