#include "LeastSquaresReference.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace lsref {
namespace {

using Column = std::vector<double>;

// beta minimising |X beta - y| by Householder QR, all in double.
Column leastSquares(const Matrix& X, const Vector& y) {
    const int32_t n = X.rows();
    const int32_t p = X.cols();
    std::vector<Column> a(static_cast<std::size_t>(p), Column(static_cast<std::size_t>(n)));
    for (int32_t c = 0; c < p; ++c) {
        for (int32_t r = 0; r < n; ++r) a[c][r] = X(r, c);
    }
    Column b(static_cast<std::size_t>(n));
    for (int32_t r = 0; r < n; ++r) b[r] = y[r];
    for (int32_t k = 0; k < p; ++k) {
        double norm = 0.0;
        for (int32_t r = k; r < n; ++r) norm += a[k][r] * a[k][r];
        norm = std::sqrt(norm);
        const double alpha = a[k][k] > 0.0 ? -norm : norm;
        Column v(a[k]);
        for (int32_t r = 0; r < k; ++r) v[r] = 0.0;
        v[k] -= alpha;
        double vv = 0.0;
        for (int32_t r = k; r < n; ++r) vv += v[r] * v[r];
        auto reflect = [&](Column& col) {
            double d = 0.0;
            for (int32_t r = k; r < n; ++r) d += v[r] * col[r];
            const double f = 2.0 * d / vv;
            for (int32_t r = k; r < n; ++r) col[r] -= f * v[r];
        };
        for (int32_t c = k; c < p; ++c) reflect(a[c]);
        reflect(b);
    }
    Column beta(static_cast<std::size_t>(p));
    for (int32_t k = p - 1; k >= 0; --k) {
        double s = b[k];
        for (int32_t c = k + 1; c < p; ++c) s -= a[c][k] * beta[c];
        beta[k] = s / a[k][k];
    }
    return beta;
}

Column times(const Matrix& X, const Column& beta) {
    Column out(static_cast<std::size_t>(X.rows()), 0.0);
    for (int32_t r = 0; r < X.rows(); ++r) {
        for (int32_t c = 0; c < X.cols(); ++c) out[r] += X(r, c) * beta[c];
    }
    return out;
}

ModelReference fitModel(const Vector& y, double sst, const ReferenceModel& m) {
    const int32_t n = y.size();
    const Column beta = leastSquares(m.X, y);
    Column confoundBeta(beta);
    for (std::size_t c = 0; c < beta.size(); ++c) confoundBeta[c] *= m.confoundSelector[static_cast<int32_t>(c)];
    const Column fit = times(m.X, beta);
    const Column confound = times(m.X, confoundBeta);
    double sse = 0.0;
    double mean = 0.0;
    for (int32_t t = 0; t < n; ++t) {
        sse += (y[t] - fit[t]) * (y[t] - fit[t]);
        mean += y[t] - confound[t];
    }
    mean /= n;
    double ss = 0.0;
    for (int32_t t = 0; t < n; ++t) {
        const double d = y[t] - confound[t] - mean;
        ss += d * d;
    }
    const double r2 = 1.0 - sse / sst;
    const double adjustment = (n - 1.0) / (n - static_cast<double>(m.p) - 1.0);
    return {sse, mean / std::sqrt(ss / (n - 1)), 1.0 - (1.0 - r2) * adjustment};
}

} // namespace

VoxelReference referenceStatistics(const Vector& y, const ReferenceModel (&models)[2]) {
    const int32_t n = y.size();
    double mean = 0.0;
    for (int32_t t = 0; t < n; ++t) mean += y[t];
    mean /= n;
    double sst = 0.0;
    for (int32_t t = 0; t < n; ++t) sst += (y[t] - mean) * (y[t] - mean);
    VoxelReference out{{fitModel(y, sst, models[0]), fitModel(y, sst, models[1])}, 0.0};
    const double p1 = models[0].p;
    const double p2 = models[1].p;
    out.F = ((out.model[0].sse - out.model[1].sse) / (p2 - p1)) / (out.model[1].sse / (n - p2));
    return out;
}

} // namespace lsref
