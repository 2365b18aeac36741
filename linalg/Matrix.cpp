#include "linalg/Matrix.h"

#include <algorithm>
#include <utility>

#include "linalg/FloatBuffer.h"

Matrix::Matrix() : rows_(0), cols_(0) {}

Matrix::Matrix(int32_t rows, int32_t cols, float value)
    : rows_(rows), cols_(cols), data_(linalg::filledFloats(linalg::elementCount(rows, cols), value)) {}

Matrix::Matrix(MatrixSize size, float value) : Matrix(size.rows, size.cols, value) {}

Matrix::Matrix(const Matrix& other)
    : rows_(other.rows_), cols_(other.cols_), data_(linalg::copiedFloats(other.data(), other.count())) {}

Matrix::Matrix(Matrix&& other) noexcept : rows_(other.rows_), cols_(other.cols_), data_(std::move(other.data_)) {}

Matrix& Matrix::operator=(const Matrix& other) {
    if (this != &other) {
        resize(other.rows_, other.cols_);
        std::copy(other.data(), other.data() + count(), data());
    }
    return *this;
}

Matrix::~Matrix() = default;

void Matrix::resize(int32_t rows, int32_t cols) {
    const int32_t newCount = linalg::elementCount(rows, cols);
    // A moved-from matrix keeps its shape but has no buffer: it gets a new
    // one even when the element count is unchanged.
    const bool reusable = newCount == count() && (data_ || newCount == 0);
    if (!reusable) {
        data_ = linalg::allocateFloats(newCount);
    }
    rows_ = rows;
    cols_ = cols;
}

// Column by column, each result element accumulates its products in
// increasing k, starting from the k = 0 product. The loops run over rows
// innermost for locality; that does not change any element's sum order.
Matrix Matrix::operator*(const Matrix& b) const {
    Matrix out;
    out.resize(rows_, b.cols_);
    for (int32_t c = 0; c < b.cols_; ++c) {
        float* outColumn = out.data() + static_cast<size_t>(c) * rows_;
        const float* bColumn = b.data() + static_cast<size_t>(c) * b.rows_;
        if (cols_ == 0) {
            // No inner terms: the empty sum.
            std::fill(outColumn, outColumn + rows_, 0.0f);
            continue;
        }
        for (int32_t r = 0; r < rows_; ++r) {
            outColumn[r] = data_[r] * bColumn[0];
        }
        for (int32_t k = 1; k < cols_; ++k) {
            const float* aColumn = data() + static_cast<size_t>(k) * rows_;
            const float bk = bColumn[k];
            for (int32_t r = 0; r < rows_; ++r) {
                outColumn[r] = outColumn[r] + aColumn[r] * bk;
            }
        }
    }
    return out;
}

Vector Matrix::operator*(Vector v) const {
    const Vector x(std::move(v)); // released when this returns
    Vector y(rows_);
    float* out = y.data();
    if (cols_ == 0) {
        std::fill(out, out + rows_, 0.0f);
        return y;
    }
    for (int32_t r = 0; r < rows_; ++r) {
        out[r] = data_[r] * x[0];
    }
    for (int32_t k = 1; k < cols_; ++k) {
        const float* aColumn = data() + static_cast<size_t>(k) * rows_;
        const float xk = x[k];
        for (int32_t r = 0; r < rows_; ++r) {
            out[r] = out[r] + aColumn[r] * xk;
        }
    }
    return y;
}

Matrix Matrix::transposed() const {
    Matrix out;
    out.resize(cols_, rows_);
    for (int32_t c = 0; c < cols_; ++c) {
        for (int32_t r = 0; r < rows_; ++r) {
            out(c, r) = (*this)(r, c);
        }
    }
    return out;
}
