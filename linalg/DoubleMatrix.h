// A dense double-precision matrix, column-major like Matrix, owning its
// buffer. It carries only what the double-precision decomposition needs.
#pragma once

#include <cstdint>
#include <vector>

class DoubleMatrix {
public:
    DoubleMatrix();
    DoubleMatrix(int32_t rows, int32_t cols, double value);

    // New shape; the elements are unspecified afterwards.
    void resize(int32_t rows, int32_t cols);

    int32_t rows() const { return rows_; }
    int32_t cols() const { return cols_; }
    double& operator()(int32_t r, int32_t c) { return data_[index(r, c)]; }
    const double& operator()(int32_t r, int32_t c) const { return data_[index(r, c)]; }

private:
    std::size_t index(int32_t r, int32_t c) const {
        return static_cast<std::size_t>(r) + static_cast<std::size_t>(c) * static_cast<std::size_t>(rows_);
    }

    int32_t rows_;
    int32_t cols_;
    std::vector<double> data_;
};
