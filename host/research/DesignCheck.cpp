#include "host/research/DesignCheck.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvantis {

namespace {

using Column = std::vector<double>;
using Matrix = std::vector<Column>; // columns

double dot(const Column& a, const Column& b) {
    double sum = 0.0;
    for (std::size_t t = 0; t < a.size(); ++t) sum += a[t] * b[t];
    return sum;
}

double norm(const Column& a) { return std::sqrt(dot(a, a)); }

bool isConstant(const std::vector<float>& column) {
    return std::all_of(column.begin(), column.end(), [&](float v) { return v == column.front(); });
}

bool hasConstantColumn(const DesignTable& design) {
    return std::any_of(design.columns.begin(), design.columns.end(),
                       [](const std::vector<float>& c) { return !c.empty() && c.front() != 0.0f && isConstant(c); });
}

std::string quotedList(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k) text += (k == 0 ? "" : ", ") + inQuotes(names[k]);
    return text;
}

void refuseValuesThatAreNotFinite(const DesignTable& design, const std::string& label) {
    for (std::size_t j = 0; j < design.columns.size(); ++j) {
        for (std::size_t t = 0; t < design.columns[j].size(); ++t) {
            if (!std::isfinite(design.columns[j][t])) {
                throw DesignRefusal(label + ": the column " + inQuotes(design.names[j]) +
                                    " holds a value that is not finite in volume " + std::to_string(t + 1));
            }
        }
        if (design.columns[j].size() != design.columns.front().size()) {
            throw DesignRefusal(label + ": the column " + inQuotes(design.names[j]) + " has " +
                                std::to_string(design.columns[j].size()) + " values; the first has " +
                                std::to_string(design.columns.front().size()));
        }
    }
}

// Z-scored columns (divisor n) when the design has a constant, whose span they
// then keep; otherwise each column scaled to a root mean square of 1. A constant
// column becomes ones either way, an all-zero column stays zero.
Matrix standardized(const DesignTable& design) {
    const bool demean = hasConstantColumn(design);
    Matrix z;
    for (const std::vector<float>& column : design.columns) {
        const double n = static_cast<double>(column.size());
        Column x(column.begin(), column.end());
        if (isConstant(column)) {
            if (x.front() != 0.0) std::fill(x.begin(), x.end(), 1.0);
            z.push_back(x);
            continue;
        }
        double mean = 0.0;
        if (demean) {
            for (double v : x) mean += v;
            mean /= n;
        }
        double squares = 0.0;
        for (double& v : x) {
            v -= mean;
            squares += v * v;
        }
        const double sd = std::sqrt(squares / n);
        for (double& v : x) v /= sd;
        z.push_back(x);
    }
    return z;
}

struct Svd {
    Column values; // singular values, by column (not sorted)
    Matrix v;      // right singular vectors, v[j] the j-th one
};

// One-sided Jacobi: rotates pairs of columns until all are orthogonal; accurate
// for small singular values, which the rank needs.
Svd jacobiSvd(Matrix a) {
    const std::size_t p = a.size();
    Matrix v(p, Column(p, 0.0));
    for (std::size_t j = 0; j < p; ++j) v[j][j] = 1.0;
    const double eps = std::numeric_limits<double>::epsilon();
    for (int sweep = 0; sweep < 60; ++sweep) {
        bool rotated = false;
        for (std::size_t i = 0; i + 1 < p; ++i) {
            for (std::size_t j = i + 1; j < p; ++j) {
                const double alpha = dot(a[i], a[i]);
                const double beta = dot(a[j], a[j]);
                const double gamma = dot(a[i], a[j]);
                if (alpha == 0.0 || beta == 0.0 || std::abs(gamma) <= eps * std::sqrt(alpha * beta)) continue;
                rotated = true;
                const double zeta = (beta - alpha) / (2.0 * gamma);
                const double t = std::copysign(1.0, zeta) / (std::abs(zeta) + std::sqrt(1.0 + zeta * zeta));
                const double c = 1.0 / std::sqrt(1.0 + t * t);
                const double s = c * t;
                for (std::size_t r = 0; r < a[i].size(); ++r) {
                    const double x = a[i][r];
                    const double y = a[j][r];
                    a[i][r] = c * x - s * y;
                    a[j][r] = s * x + c * y;
                }
                for (std::size_t r = 0; r < p; ++r) {
                    const double x = v[i][r];
                    const double y = v[j][r];
                    v[i][r] = c * x - s * y;
                    v[j][r] = s * x + c * y;
                }
            }
        }
        if (!rotated) break;
    }
    Svd svd;
    for (const Column& column : a) svd.values.push_back(norm(column));
    svd.v = std::move(v);
    return svd;
}

// Householder QR: the triangular factor R (min(n, p) rows), whose singular
// values and right singular vectors are the design's. The rotations then work
// on p x p numbers instead of n x p.
Matrix triangularFactor(Matrix a) {
    const std::size_t p = a.size();
    const std::size_t n = p == 0 ? 0 : a.front().size();
    const std::size_t steps = std::min(n, p);
    for (std::size_t k = 0; k < steps; ++k) {
        Column v(a[k].begin() + static_cast<std::ptrdiff_t>(k), a[k].end());
        const double length = norm(v);
        if (length == 0.0) continue;
        v[0] += std::copysign(length, v[0]);
        const double scale = 2.0 / dot(v, v);
        for (std::size_t j = k; j < p; ++j) {
            double projection = 0.0;
            for (std::size_t i = 0; i < v.size(); ++i) projection += v[i] * a[j][k + i];
            projection *= scale;
            for (std::size_t i = 0; i < v.size(); ++i) a[j][k + i] -= projection * v[i];
        }
    }
    for (Column& column : a) column.resize(steps);
    return a;
}

Svd singularValues(const Matrix& a) { return jacobiSvd(triangularFactor(a)); }

// A design's values are floats: what float rounding can hide is no dependence
// the design can be trusted to be free of.
double rankTolerance(const Svd& svd, std::size_t n) {
    const double largest = svd.values.empty() ? 0.0 : *std::max_element(svd.values.begin(), svd.values.end());
    return static_cast<double>(std::max(n, svd.values.size())) * std::numeric_limits<float>::epsilon() * largest;
}

// The columns that are combinations of the columns before them: the null space
// of the design (the right singular vectors of the zero singular values) brought
// to echelon form from the last column backwards; each pivot is such a column.
std::vector<std::size_t> dependentColumns(const Svd& svd, double tolerance) {
    Matrix null;
    for (std::size_t k = 0; k < svd.values.size(); ++k) {
        if (svd.values[k] <= tolerance) null.push_back(svd.v[k]);
    }
    std::vector<std::size_t> pivots;
    std::vector<bool> used(null.size(), false);
    const std::size_t p = svd.values.size();
    for (std::size_t col = p; col-- > 0 && pivots.size() < null.size();) {
        std::size_t best = null.size();
        for (std::size_t r = 0; r < null.size(); ++r) {
            if (!used[r] && (best == null.size() || std::abs(null[r][col]) > std::abs(null[best][col]))) best = r;
        }
        if (best == null.size() || std::abs(null[best][col]) < 1e-6) continue;
        used[best] = true;
        pivots.push_back(col);
        for (std::size_t r = 0; r < null.size(); ++r) {
            if (r == best) continue;
            const double factor = null[r][col] / null[best][col];
            for (std::size_t k = 0; k < p; ++k) null[r][k] -= factor * null[best][k];
        }
    }
    std::sort(pivots.begin(), pivots.end());
    return pivots;
}

std::string predictorsText(const DesignCheck& check) {
    return std::to_string(check.predictors) + " predictors of rank " + std::to_string(check.rank) + " for " +
           std::to_string(check.volumes) + " volumes";
}

} // namespace

DesignCheck checkDesign(const DesignTable& design, const std::string& label) {
    if (design.columns.empty() || design.columns.front().empty()) {
        throw DesignRefusal(label + " has no columns or no volumes");
    }
    refuseValuesThatAreNotFinite(design, label);
    DesignCheck check;
    check.label = label;
    check.volumes = static_cast<int32_t>(design.columns.front().size());
    check.predictors = static_cast<int32_t>(design.columns.size());
    const Svd svd = singularValues(standardized(design));
    check.rankTolerance = rankTolerance(svd, design.columns.front().size());
    check.rank = static_cast<int32_t>(
        std::count_if(svd.values.begin(), svd.values.end(), [&](double s) { return s > check.rankTolerance; }));
    const double largest = *std::max_element(svd.values.begin(), svd.values.end());
    const double smallest = *std::min_element(svd.values.begin(), svd.values.end());
    check.conditionNumber = smallest > 0.0 ? largest / smallest : std::numeric_limits<double>::infinity();
    check.residualDf = check.volumes - check.rank;
    if (check.rank < check.predictors) {
        for (std::size_t j : dependentColumns(svd, check.rankTolerance))
            check.dependentColumns.push_back(design.names[j]);
    }
    if (check.residualDf <= 0) {
        throw DesignRefusal(label + " has " + predictorsText(check) +
                            ": no residual degrees of freedom are left to estimate the noise; use fewer "
                            "confounds or a longer run");
    }
    if (check.rank < check.predictors) {
        const bool one = check.dependentColumns.size() == 1;
        check.warnings.push_back(label + " is rank deficient (rank " + std::to_string(check.rank) + " of " +
                                 std::to_string(check.predictors) + " columns): " + quotedList(check.dependentColumns) +
                                 (one ? " is a" : " are") + " linear combination" + (one ? "" : "s") +
                                 " of the columns before " + (one ? "it" : "them") + "; leave " +
                                 (one ? "it" : "them") + " out");
    }
    if (check.residualDf < kFewResidualDf) {
        check.warnings.push_back(label + " leaves only " + std::to_string(check.residualDf) +
                                 " residual degrees of freedom (" + predictorsText(check) +
                                 "); its estimates and tests are unreliable under " + std::to_string(kFewResidualDf));
    }
    return check;
}

namespace {

// The model-1 columns whose part outside model 2's column space is above the
// nesting tolerance: projected twice on model 2's left singular vectors.
std::vector<std::string> columnsOutside(const DesignTable& model1, const DesignTable& model2) {
    const Matrix a = standardized(model2);
    const Svd svd = singularValues(a);
    const double tolerance = rankTolerance(svd, model2.columns.front().size());
    // The left singular vectors of the nonzero singular values: A v / sigma.
    Matrix basis;
    for (std::size_t k = 0; k < svd.values.size(); ++k) {
        if (svd.values[k] <= tolerance) continue;
        Column u(a.front().size(), 0.0);
        for (std::size_t j = 0; j < a.size(); ++j) {
            for (std::size_t t = 0; t < u.size(); ++t) u[t] += a[j][t] * svd.v[k][j];
        }
        for (double& x : u) x /= svd.values[k];
        basis.push_back(u);
    }
    const Matrix z = standardized(model1);
    std::vector<std::string> outside;
    for (std::size_t j = 0; j < z.size(); ++j) {
        const double size = norm(z[j]);
        if (size == 0.0) continue;
        Column r = z[j];
        for (int pass = 0; pass < 2; ++pass) {
            for (const Column& u : basis) {
                const double c = dot(u, r);
                for (std::size_t t = 0; t < r.size(); ++t) r[t] -= c * u[t];
            }
        }
        if (norm(r) > kNestingTolerance * size) outside.push_back(model1.names[j]);
    }
    return outside;
}

} // namespace

DesignPairCheck checkDesignPair(const DesignTable& model1, const DesignTable& model2) {
    DesignPairCheck pair;
    pair.model1 = checkDesign(model1, "model 1");
    pair.model2 = checkDesign(model2, "model 2");
    if (pair.model1.volumes != pair.model2.volumes) {
        throw DesignRefusal("model 1 has " + std::to_string(pair.model1.volumes) + " volumes and model 2 " +
                            std::to_string(pair.model2.volumes) + "; both must describe the same run");
    }
    if (pair.model1.rank > pair.model2.rank) {
        throw DesignRefusal("model 1 (rank " + std::to_string(pair.model1.rank) + ") is fuller than model 2 (rank " +
                            std::to_string(pair.model2.rank) +
                            "); the comparison asks what model 2 adds to model 1: swap the two models");
    }
    pair.columnsOutsideModel2 = columnsOutside(model1, model2);
    pair.nested = pair.columnsOutsideModel2.empty();
    if (pair.nested && pair.model1.rank == pair.model2.rank) {
        throw DesignRefusal("model 2 spans the same columns as model 1 (rank " + std::to_string(pair.model1.rank) +
                            "): it adds nothing to test");
    }
    pair.warnings = pair.model1.warnings;
    pair.warnings.insert(pair.warnings.end(), pair.model2.warnings.begin(), pair.model2.warnings.end());
    if (pair.nested) {
        pair.numeratorDf = pair.model2.rank - pair.model1.rank;
        pair.denominatorDf = pair.model2.residualDf;
    } else {
        const std::size_t shown = std::min<std::size_t>(pair.columnsOutsideModel2.size(), 5);
        std::vector<std::string> names(pair.columnsOutsideModel2.begin(),
                                       pair.columnsOutsideModel2.begin() + static_cast<std::ptrdiff_t>(shown));
        std::string more = pair.columnsOutsideModel2.size() > shown
                               ? " and " + std::to_string(pair.columnsOutsideModel2.size() - shown) + " more"
                               : "";
        pair.warnings.push_back("the models are not nested: model 2 cannot fit model 1's " + quotedList(names) + more +
                                ", so the F test between them is meaningless and is left out; tSNR and "
                                "adjusted R squared still compare");
    }
    return pair;
}

} // namespace corvantis
