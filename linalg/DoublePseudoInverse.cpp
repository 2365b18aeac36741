#include "linalg/DoublePseudoInverse.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "linalg/DoubleMatrix.h"
#include "linalg/Svd.h"

namespace {

// Euclidean norm of each column in double, rows in ascending order; 1 for an
// all-zero column, which thus stays as it is.
std::vector<double> columnNorms(const Matrix& x) {
    std::vector<double> norms(static_cast<std::size_t>(x.cols()));
    for (int32_t c = 0; c < x.cols(); ++c) {
        double sum = 0.0;
        for (int32_t r = 0; r < x.rows(); ++r) {
            const double value = x(r, c);
            sum = sum + value * value;
        }
        norms[static_cast<std::size_t>(c)] = sum != 0.0 ? std::sqrt(sum) : 1.0;
    }
    return norms;
}

DoubleMatrix scaledColumns(const Matrix& x, const std::vector<double>& norms) {
    DoubleMatrix a(x.rows(), x.cols(), 0.0);
    for (int32_t c = 0; c < x.cols(); ++c) {
        for (int32_t r = 0; r < x.rows(); ++r) {
            a(r, c) = static_cast<double>(x(r, c)) / norms[static_cast<std::size_t>(c)];
        }
    }
    return a;
}

// Singular values at or below this count as zero: the rounding level of the
// double-precision decomposition.
double zeroCutoff(const std::vector<double>& w, int32_t rows, int32_t cols) {
    double largest = 0.0;
    for (const double value : w) {
        if (value > largest) {
            largest = value;
        }
    }
    return static_cast<double>(std::max(rows, cols)) * std::numeric_limits<double>::epsilon() * largest;
}

} // namespace

std::optional<Matrix> doublePseudoInverse(const Matrix& x) {
    const int32_t n = x.rows();
    const int32_t p = x.cols();
    const std::vector<double> norms = columnNorms(x);
    DoubleMatrix u = scaledColumns(x, norms);
    std::vector<double> w;
    DoubleMatrix v;
    if (!linalg::svd(u, w, v)) {
        return std::nullopt;
    }
    const double cutoff = zeroCutoff(w, n, p);
    Matrix result(p, n, 0.0f);
    for (int32_t i = 0; i < p; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            double sum = 0.0;
            for (int32_t k = 0; k < p; ++k) {
                const double wk = w[static_cast<std::size_t>(k)];
                if (wk > cutoff) {
                    sum = sum + (v(i, k) * u(j, k)) / wk;
                }
            }
            result(i, j) = static_cast<float>(sum / norms[static_cast<std::size_t>(i)]);
        }
    }
    return result;
}
