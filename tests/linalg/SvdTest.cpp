// Singular value decomposition and inversion: the exact small cases, the
// refusals, pseudo-inverses of singular matrices, accuracy on random
// matrices, and bit-for-bit agreement with an independent plain version.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include "ReferenceSvd.h"
#include "linalg/Matrix.h"
#include "linalg/Svd.h"
#include "linalg/Vector.h"
#include "tests/support/FloatBits.h"

namespace {

using testsupport::bitsOf;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Entries uniform in [-3, 3), from mt19937, whose output the standard fixes.
Matrix randomMatrix(int32_t rows, int32_t cols, uint32_t seed) {
    std::mt19937 gen(seed);
    Matrix m(rows, cols, 0.0f);
    for (int32_t i = 0; i < m.count(); ++i) {
        m.data()[i] = -3.0f + 6.0f * (static_cast<float>(gen() >> 8) / 16777216.0f);
    }
    return m;
}

Rows rowsOf(const Matrix& m) {
    Rows r(m.rows(), std::vector<float>(m.cols()));
    for (int32_t i = 0; i < m.rows(); ++i) {
        for (int32_t j = 0; j < m.cols(); ++j) {
            r[i][j] = m(i, j);
        }
    }
    return r;
}

void expectSameBits(const Matrix& m, const Rows& r, const std::string& what) {
    ASSERT_EQ(static_cast<size_t>(m.rows()), r.size()) << what;
    for (int32_t i = 0; i < m.rows(); ++i) {
        for (int32_t j = 0; j < m.cols(); ++j) {
            EXPECT_EQ(bitsOf(m(i, j)), bitsOf(r[i][j])) << what << " (" << i << ", " << j << ")";
        }
    }
}

struct Decomposed {
    bool ok;
    Matrix u;
    Vector w;
    Matrix v;
};

Decomposed decompose(const Matrix& a) {
    Decomposed d{false, a, Vector(), Matrix()};
    d.ok = d.u.svd(d.w, d.v);
    return d;
}

float largestDeviationFromIdentity(const Matrix& p) {
    float worst = 0.0f;
    for (int32_t i = 0; i < p.rows(); ++i) {
        for (int32_t j = 0; j < p.cols(); ++j) {
            worst = std::max(worst, std::fabs(p(i, j) - (i == j ? 1.0f : 0.0f)));
        }
    }
    return worst;
}

bool isMonotone(const Vector& w) {
    bool ascending = true;
    bool descending = true;
    for (int32_t i = 1; i < w.size(); ++i) {
        ascending = ascending && w[i - 1] <= w[i];
        descending = descending && w[i - 1] >= w[i];
    }
    return ascending || descending;
}

TEST(SvdScalars, PythagAvoidsOverflowAndUnderflow) {
    EXPECT_EQ(linalg::pythag(3.0f, 4.0f), 5.0f);
    EXPECT_EQ(linalg::pythag(-4.0f, 3.0f), 5.0f);
    EXPECT_EQ(bitsOf(linalg::pythag(0.0f, -0.0f)), 0u);
    EXPECT_EQ(linalg::pythag(1e30f, 1e30f), 1e30f * std::sqrt(2.0f));
    EXPECT_EQ(linalg::pythag(1e-30f, 1e-30f), 1e-30f * std::sqrt(2.0f));
    EXPECT_EQ(linalg::pythag(kNaN, 0.0f), 0.0f); // neither p > q nor q != 0 holds
    EXPECT_TRUE(std::isnan(linalg::pythag(1.0f, kNaN)));
}

TEST(SvdScalars, SignTakesTheSecondArgumentsSign) {
    EXPECT_EQ(linalg::sign(-3.0f, 2.0f), 3.0f);
    EXPECT_EQ(linalg::sign(3.0f, -2.0f), -3.0f);
    EXPECT_EQ(linalg::sign(-3.0f, -0.0f), 3.0f); // -0 >= 0
    EXPECT_EQ(linalg::sign(3.0f, kNaN), -3.0f);
}

TEST(SvdOneByOne, ExactFactorsAndInverses) {
    struct Case {
        float a, u, w, v, inverse;
    };
    const Case cases[] = {
        {2.0f, -1.0f, 2.0f, -1.0f, 0.5f}, {-4.0f, -1.0f, 4.0f, 1.0f, -0.25f}, {0.0f, 1.0f, 0.0f, 1.0f, 0.0f}};
    for (const Case& c : cases) {
        const Decomposed d = decompose(Matrix(1, 1, c.a));
        ASSERT_TRUE(d.ok) << c.a;
        ASSERT_EQ(d.w.size(), 1);
        ASSERT_EQ(d.v.count(), 1);
        EXPECT_EQ(bitsOf(d.u(0, 0)), bitsOf(c.u)) << c.a;
        EXPECT_EQ(bitsOf(d.w[0]), bitsOf(c.w)) << c.a;
        EXPECT_EQ(bitsOf(d.v(0, 0)), bitsOf(c.v)) << c.a;
        Matrix m(1, 1, c.a);
        ASSERT_TRUE(m.invert());
        EXPECT_EQ(bitsOf(m(0, 0)), bitsOf(c.inverse)) << c.a;
    }
}

TEST(SvdOneByOne, NaNConvergesAndInvertsToNaN) {
    const Matrix inv = Matrix(1, 1, kNaN).inverse();
    ASSERT_EQ(inv.count(), 1);
    EXPECT_TRUE(std::isnan(inv(0, 0)));
}

TEST(Inversion, ZeroMatricesGiveTheirPseudoInverse) {
    const Matrix inv = Matrix(4, 4, 0.0f).inverse();
    ASSERT_EQ(inv.rows(), 4);
    ASSERT_EQ(inv.cols(), 4);
    for (int32_t i = 0; i < inv.count(); ++i) {
        EXPECT_EQ(bitsOf(inv.data()[i]), 0u);
    }
    const Matrix empty = Matrix().inverse();
    EXPECT_EQ(empty.rows(), 0);
    EXPECT_EQ(empty.cols(), 0);
}

TEST(Inversion, NonSquareIsRefusedAndUnchanged) {
    Matrix m = randomMatrix(2, 3, 7u);
    const Matrix before = m;
    try {
        (void)m.inverse();
        FAIL() << "inverse of a 2 x 3 matrix returned";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Matrix inversion failed");
    }
    EXPECT_FALSE(m.invert());
    ASSERT_EQ(m.rows(), 2);
    ASSERT_EQ(m.cols(), 3);
    for (int32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(bitsOf(m.data()[i]), bitsOf(before.data()[i]));
    }
}

TEST(Inversion, SingularMatrixKeepsItsTinySingularValue) {
    Matrix a(2, 2, 2.0f); // (1 2; 2 4)
    a(0, 0) = 1.0f;
    a(1, 1) = 4.0f;
    const Decomposed d = decompose(a);
    ASSERT_TRUE(d.ok);
    const float small = std::min(d.w[0], d.w[1]);
    EXPECT_GT(small, 0.0f);
    EXPECT_LT(small, 1e-6f);
    const Matrix inv = a.inverse();
    float largest = 0.0f;
    for (int32_t i = 0; i < 4; ++i) {
        largest = std::max(largest, std::fabs(inv.data()[i]));
    }
    EXPECT_GT(largest, 1e6f);
}

TEST(Inversion, NaNAmongOnesDoesNotConverge) {
    Matrix a(3, 3, 1.0f);
    a(1, 2) = kNaN;
    EXPECT_FALSE(decompose(a).ok);
    try {
        (void)a.inverse();
        FAIL() << "inverse returned despite the NaN";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Matrix inversion failed");
    }
}

TEST(Inversion, RandomModerateMatricesInvertAccurately) {
    struct Case {
        int32_t order;
        uint32_t seed;
    };
    for (const Case c : {Case{5, 15u}, Case{5, 25u}, Case{8, 12u}, Case{8, 13u}}) {
        const Matrix a = randomMatrix(c.order, c.order, c.seed);
        const Decomposed d = decompose(a);
        ASSERT_TRUE(d.ok);
        float wMax = 0.0f;
        float wMin = std::numeric_limits<float>::infinity();
        for (int32_t k = 0; k < c.order; ++k) {
            EXPECT_GE(d.w[k], 0.0f);
            wMax = std::max(wMax, d.w[k]);
            wMin = std::min(wMin, d.w[k]);
        }
        ASSERT_LT(wMax / wMin, 500.0f) << "seed " << c.seed << " is not moderately conditioned";
        EXPECT_FALSE(isMonotone(d.w)) << "seed " << c.seed;
        EXPECT_LE(largestDeviationFromIdentity(a * a.inverse()), 1e-4f) << "seed " << c.seed;
    }
}

TEST(Inversion, NormalMatrixOfADesignWithConstant) {
    Matrix x = randomMatrix(40, 4, 5u);
    for (int32_t r = 0; r < 40; ++r) {
        x(r, 3) = 1.0f;
    }
    const Matrix g = x.transposed() * x;
    EXPECT_LE(largestDeviationFromIdentity(g * g.inverse()), 1e-5f);
}

TEST(SvdFactors, ReconstructTallMatrixWithOrthonormalFactors) {
    const Matrix a = randomMatrix(7, 4, 3u);
    const Decomposed d = decompose(a);
    ASSERT_TRUE(d.ok);
    Matrix uw = d.u;
    for (int32_t c = 0; c < 4; ++c) {
        for (int32_t r = 0; r < 7; ++r) {
            uw(r, c) = uw(r, c) * d.w[c];
        }
    }
    const Matrix back = uw * d.v.transposed();
    for (int32_t i = 0; i < a.count(); ++i) {
        EXPECT_NEAR(back.data()[i], a.data()[i], 1e-5f);
    }
    EXPECT_LE(largestDeviationFromIdentity(d.u.transposed() * d.u), 1e-6f);
    EXPECT_LE(largestDeviationFromIdentity(d.v.transposed() * d.v), 1e-6f);
}

TEST(SvdFactors, OutputsAreResizedWhateverTheyHeld) {
    Matrix a = randomMatrix(3, 3, 9u);
    Vector w(7, kNaN);
    Matrix v(1, 2, kNaN);
    ASSERT_TRUE(a.svd(w, v));
    EXPECT_EQ(w.size(), 3);
    EXPECT_EQ(v.rows(), 3);
    EXPECT_EQ(v.cols(), 3);
    EXPECT_LE(largestDeviationFromIdentity(v.transposed() * v), 1e-6f);
}

// Shapes chosen to reach every branch: square, tall, wide, a zero first
// column (a negligible diagonal value, so the superdiagonal is cancelled) and
// repeated rows (exactly zero reflections and singular values).
TEST(SvdBitExact, AgreesWithThePlainVersion) {
    struct Case {
        int32_t rows, cols;
        uint32_t seed;
        bool zeroFirstColumn, repeatedRows;
    };
    const Case cases[] = {{5, 5, 31u, false, false},   {8, 8, 32u, false, false}, {7, 4, 33u, false, false},
                          {3, 6, 34u, false, false},   {6, 6, 35u, true, false},  {5, 5, 36u, false, true},
                          {1, 1, 37u, false, false},   {9, 9, 38u, false, false}, {12, 10, 39u, false, false},
                          {10, 10, 40u, false, false}, {6, 6, 41u, false, false}};
    for (const Case& c : cases) {
        Matrix a = randomMatrix(c.rows, c.cols, c.seed);
        for (int32_t r = 0; r < c.rows; ++r) {
            if (c.zeroFirstColumn) {
                a(r, 0) = 0.0f;
            }
            if (c.repeatedRows && r >= 2) {
                for (int32_t col = 0; col < c.cols; ++col) {
                    a(r, col) = a(r % 2, col);
                }
            }
        }
        const std::string what =
            std::to_string(c.rows) + "x" + std::to_string(c.cols) + " seed " + std::to_string(c.seed);
        const ReferenceSvd ref = referenceSvd(rowsOf(a));
        const Decomposed d = decompose(a);
        ASSERT_EQ(d.ok, ref.converged) << what;
        expectSameBits(d.u, ref.u, what + " U");
        expectSameBits(d.v, ref.v, what + " V");
        for (int32_t k = 0; k < c.cols; ++k) {
            EXPECT_EQ(bitsOf(d.w[k]), bitsOf(ref.w[k])) << what << " w[" << k << "]";
        }
        if (c.rows == c.cols) {
            expectSameBits(a.inverse(), referenceInverse(ref), what + " inverse");
        }
    }
}

} // namespace
