// Ownership rules of Matrix, Vector and Volume: construction, deep copies,
// moves that leave a shaped but buffer-less source, buffer reuse on
// assignment and resize, and refusal of shapes without a valid 32-bit count.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <utility>

#include "linalg/Matrix.h"
#include "linalg/Vector.h"
#include "linalg/Volume.h"
#include "tests/support/FloatBits.h"

namespace {

using testsupport::bitsOf;
using testsupport::floatOf;

Matrix counting(int32_t rows, int32_t cols) {
    Matrix m(rows, cols, 0.0f);
    for (int32_t i = 0; i < m.count(); ++i) {
        m.data()[i] = static_cast<float>(i + 1);
    }
    return m;
}

TEST(MatrixBuffer, FillConstructionIsColumnMajor) {
    Matrix m(2, 3, 0.5f);
    ASSERT_EQ(m.count(), 6);
    m(1, 2) = 7.0f;
    EXPECT_EQ(&m(1, 2), m.data() + 5);
    EXPECT_EQ(&m(1, 0), m.data() + 1);
    EXPECT_EQ(&m(0, 1), m.data() + 2);
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(m.data()[i], 0.5f);
    }
    const Matrix s(MatrixSize{3, 1}, -2.0f);
    EXPECT_EQ(s.rows(), 3);
    EXPECT_EQ(s.cols(), 1);
    EXPECT_EQ(s(2, 0), -2.0f);
}

TEST(MatrixBuffer, EmptyMatrixHasNoBuffer) {
    const Matrix m;
    EXPECT_EQ(m.rows(), 0);
    EXPECT_EQ(m.cols(), 0);
    EXPECT_EQ(m.data(), nullptr);
}

TEST(MatrixBuffer, CopyIsDeepAndBitExact) {
    Matrix a = counting(2, 2);
    a(0, 1) = floatOf(0x7FC01234u); // a NaN with a payload
    a(1, 1) = -0.0f;
    const Matrix b(a);
    ASSERT_NE(a.data(), b.data());
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(bitsOf(b.data()[i]), bitsOf(a.data()[i]));
    }
    a(0, 0) = 99.0f;
    EXPECT_EQ(b(0, 0), 1.0f);
}

TEST(MatrixBuffer, MovedFromKeepsShapeAndLosesBuffer) {
    Matrix a = counting(3, 2);
    const float* buffer = a.data();
    Matrix b(std::move(a));
    EXPECT_EQ(b.data(), buffer);
    EXPECT_EQ(a.rows(), 3);
    EXPECT_EQ(a.cols(), 2);
    EXPECT_EQ(a.data(), nullptr);
}

TEST(MatrixBuffer, AssignmentReusesBufferOnlyForEqualCount) {
    Matrix target = counting(2, 3);
    const float* buffer = target.data();
    target = counting(3, 2);
    EXPECT_EQ(target.data(), buffer);
    EXPECT_EQ(target.rows(), 3);
    EXPECT_EQ(target.cols(), 2);
    EXPECT_EQ(target(2, 1), 6.0f);

    Matrix other = counting(2, 3);
    other = counting(2, 2);
    EXPECT_EQ(other.count(), 4);
    EXPECT_EQ(other(1, 1), 4.0f);

    const Matrix before = target;
    target = target;
    for (int32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(target.data()[i], before.data()[i]);
    }
}

TEST(MatrixBuffer, ResizeKeepsValuesForEqualCount) {
    Matrix m = counting(2, 3);
    const float* buffer = m.data();
    m.resize(3, 2);
    EXPECT_EQ(m.data(), buffer);
    EXPECT_EQ(m(0, 1), 4.0f); // old data[3], read under the new shape
    m.resize(4, 4);
    EXPECT_EQ(m.count(), 16);
    m(3, 3) = 1.0f; // the new buffer is large enough (checked by ASan)
}

TEST(MatrixBuffer, MovedFromCanBeAssignedAndResized) {
    Matrix a = counting(2, 3);
    Matrix keep(std::move(a));
    a = counting(3, 2); // same count as its kept shape, but no buffer to reuse
    ASSERT_NE(a.data(), nullptr);
    EXPECT_EQ(a(2, 1), 6.0f);

    Matrix b = counting(2, 2);
    Matrix keep2(std::move(b));
    b.resize(2, 2);
    ASSERT_NE(b.data(), nullptr);
    b(1, 1) = 3.0f;
}

TEST(VectorBuffer, ConstructionCopyMoveAndResize) {
    const Vector empty;
    EXPECT_EQ(empty.size(), 0);
    EXPECT_EQ(empty.data(), nullptr);

    Vector v(3, 1.5f);
    v[2] = -0.0f;
    const Vector copy(v);
    ASSERT_NE(copy.data(), v.data());
    EXPECT_EQ(copy[0], 1.5f);
    EXPECT_EQ(bitsOf(copy[2]), 0x80000000u);

    const float* buffer = v.data();
    Vector moved(std::move(v));
    EXPECT_EQ(moved.data(), buffer);
    EXPECT_EQ(v.size(), 3);
    EXPECT_EQ(v.data(), nullptr);
    v.resize(3); // a moved-from vector gets a buffer again
    ASSERT_NE(v.data(), nullptr);
    v[2] = 1.0f;

    buffer = moved.data();
    moved.resize(3);
    EXPECT_EQ(moved.data(), buffer);
    EXPECT_EQ(moved[0], 1.5f);
    moved.resize(5);
    EXPECT_EQ(moved.size(), 5);
    moved[4] = 2.0f;
}

TEST(VectorBuffer, AssignmentReusesBufferOnlyForEqualSize) {
    Vector target(2, 0.0f);
    const float* buffer = target.data();
    target = Vector(2, 4.0f);
    EXPECT_EQ(target.data(), buffer);
    EXPECT_EQ(target[1], 4.0f);
    target = Vector(4, 5.0f);
    EXPECT_EQ(target.size(), 4);
    EXPECT_EQ(target[3], 5.0f);
}

TEST(VolumeBuffer, FillCopyAndAssign) {
    Volume a(VolumeSize{2, 3, 4}, 1.0f);
    EXPECT_EQ(a.count(), 24);
    EXPECT_EQ(a.dim().y, 3);
    a[23] = 2.0f;
    const Volume b(a);
    ASSERT_NE(b.data(), a.data());
    EXPECT_EQ(b[23], 2.0f);

    Volume c(VolumeSize{4, 3, 2}, 0.0f);
    const float* buffer = c.data();
    c = a;
    EXPECT_EQ(c.data(), buffer);
    EXPECT_EQ(c.dim().x, 2);
    EXPECT_EQ(c[23], 2.0f);
    Volume d(VolumeSize{1, 1, 1}, 0.0f);
    d = a;
    EXPECT_EQ(d.count(), 24);
    EXPECT_EQ(d[23], 2.0f);
}

TEST(ShapeLimits, CountsBeyond32BitsOrNegativeThrowBadAlloc) {
    EXPECT_THROW(Matrix(65536, 65536, 0.0f), std::bad_alloc); // wraps to 0 in 32 bits
    EXPECT_THROW(Matrix(46341, 46341, 0.0f), std::bad_alloc); // just above 2^31 - 1
    EXPECT_THROW(Matrix(-1, 4, 0.0f), std::bad_alloc);
    EXPECT_THROW(Matrix(-2, -2, 0.0f), std::bad_alloc); // positive product, negative extents
    EXPECT_THROW(Vector(-1), std::bad_alloc);
    EXPECT_THROW(Vector(-5, 0.0f), std::bad_alloc);
    EXPECT_THROW(Volume(VolumeSize{2048, 2048, 1024}, 0.0f), std::bad_alloc);
    EXPECT_THROW(Volume(VolumeSize{65536, 65536, 0}, 0.0f), std::bad_alloc);
    EXPECT_THROW(Volume(VolumeSize{4, -1, 4}, 0.0f), std::bad_alloc);

    Matrix m = counting(2, 2);
    EXPECT_THROW(m.resize(1 << 16, 1 << 16), std::bad_alloc);
    EXPECT_EQ(m.rows(), 2); // a refused resize leaves the matrix as it was
    EXPECT_EQ(m(1, 1), 4.0f);
    Vector v(2, 1.0f);
    EXPECT_THROW(v.resize(-3), std::bad_alloc);
    EXPECT_EQ(v.size(), 2);
    EXPECT_EQ(v[1], 1.0f);
}

TEST(ShapeLimits, ZeroExtentsAreEmpty) {
    const Matrix m(0, 5, 1.0f);
    EXPECT_EQ(m.count(), 0);
    const Matrix t = m.transposed();
    EXPECT_EQ(t.rows(), 5);
    EXPECT_EQ(t.cols(), 0);
    const Volume v(VolumeSize{0, 7, 7}, 1.0f);
    EXPECT_EQ(v.count(), 0);
}

} // namespace
