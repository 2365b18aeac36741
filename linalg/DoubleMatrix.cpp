#include "linalg/DoubleMatrix.h"

#include "linalg/FloatBuffer.h"

DoubleMatrix::DoubleMatrix() : rows_(0), cols_(0) {}

DoubleMatrix::DoubleMatrix(int32_t rows, int32_t cols, double value)
    : rows_(rows), cols_(cols), data_(static_cast<std::size_t>(linalg::elementCount(rows, cols)), value) {}

void DoubleMatrix::resize(int32_t rows, int32_t cols) {
    data_.resize(static_cast<std::size_t>(linalg::elementCount(rows, cols)));
    rows_ = rows;
    cols_ = cols;
}
