#include "host/research/FTestSignificance.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/special_functions/gamma.hpp>

namespace corvantis {

namespace {

// ln I_x(a, b) for small x: x^a (1-x)^b / (a B(a, b)) times the hypergeometric
// series sum_k (a+b)_k / (a+1)_k x^k, whose terms fall by about x each.
double logTailFromSeries(double x, double oneMinusX, double a, double b) {
    const double logBeta = boost::math::lgamma(a) + boost::math::lgamma(b) - boost::math::lgamma(a + b);
    double term = 1.0;
    double sum = 1.0;
    for (int k = 0; k < 100000; ++k) {
        term *= (a + b + k) / (a + 1.0 + k) * x;
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return a * std::log(x) + b * std::log(oneMinusX) - std::log(a) - logBeta + std::log(sum);
}

} // namespace

double negLog10FTailProbability(double f, double df1, double df2) {
    if (std::isnan(f)) return f;
    if (f <= 0.0) return 0.0;
    if (f > DBL_MAX) f = FLT_MAX;
    const boost::math::fisher_f distribution(df1, df2);
    const double p = boost::math::cdf(boost::math::complement(distribution, f));
    if (p >= DBL_MIN) return -std::log10(p);
    const double denominator = df2 + df1 * f;
    const double logP = logTailFromSeries(df2 / denominator, df1 * f / denominator, df2 / 2.0, df1 / 2.0);
    return -logP / std::log(10.0);
}

FdrCut benjaminiHochberg(std::vector<double> negLog10P, double q) {
    if (!(q > 0.0 && q < 1.0)) throw std::invalid_argument("the false discovery rate q must lie between 0 and 1");
    for (double& value : negLog10P) {
        if (std::isnan(value)) value = 0.0;
    }
    // Largest -log10(p) first: the k-th is the k-th smallest p.
    std::sort(negLog10P.begin(), negLog10P.end(), std::greater<double>());
    FdrCut cut;
    cut.tested = static_cast<int64_t>(negLog10P.size());
    const double m = static_cast<double>(cut.tested);
    for (std::size_t k = negLog10P.size(); k >= 1; --k) {
        // p_(k) <= k q / m, compared in -log10 units so that tiny p stay exact.
        if (negLog10P[k - 1] >= -std::log10(static_cast<double>(k) * q / m)) {
            cut.surviving = static_cast<int64_t>(k);
            cut.negLog10PThreshold = negLog10P[k - 1];
            break;
        }
    }
    return cut;
}

} // namespace corvantis
