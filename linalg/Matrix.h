// A dense single-precision matrix, column-major, owning its buffer:
// element (r, c) is data()[r + c * rows()].
#pragma once

#include <cstdint>
#include <memory>

#include "linalg/MatrixSize.h"
#include "linalg/Vector.h"

class Matrix {
public:
    Matrix();
    Matrix(int32_t rows, int32_t cols, float value);
    Matrix(MatrixSize size, float value);
    Matrix(const Matrix& other);
    Matrix(Matrix&& other) noexcept; // other keeps its shape, loses its buffer
    Matrix& operator=(const Matrix& other);
    ~Matrix();

    void resize(int32_t rows, int32_t cols);

    int32_t rows() const { return rows_; }
    int32_t cols() const { return cols_; }
    int32_t count() const { return rows_ * cols_; }
    float* data() { return data_.get(); }
    const float* data() const { return data_.get(); }
    float& operator()(int32_t r, int32_t c) { return data_[r + c * rows_]; }
    const float& operator()(int32_t r, int32_t c) const { return data_[r + c * rows_]; }

    Matrix operator*(const Matrix& b) const;
    Vector operator*(Vector v) const;
    Matrix transposed() const;

    // Singular value decomposition in place (this becomes U); false when a
    // singular value does not converge within 30 passes.
    bool svd(Vector& w, Matrix& v);
    // Replaces a square matrix by its (pseudo-)inverse; false when not square or
    // when svd fails.
    bool invert();
    // The inverse of a copy; throws std::runtime_error("Matrix inversion failed").
    Matrix inverse() const;

private:
    int32_t rows_;
    int32_t cols_;
    std::unique_ptr<float[]> data_;
};
