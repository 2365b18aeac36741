// Singular value decomposition A = U diag(w) V' by Householder reduction to
// bidiagonal form and implicitly shifted QR sweeps, and the inversion built
// on it. One routine serves both precisions: every step is an operation of
// the working type (float for Matrix, double for DoubleMatrix) in the written
// operand order, so the float results do not depend on the double use.
#include "linalg/Svd.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "linalg/DoubleMatrix.h"
#include "linalg/Matrix.h"
#include "linalg/Vector.h"

// The convergence tests compare sums exactly in the working type; a wider
// evaluation would change which values count as negligible.
static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must be evaluated in float");

namespace {

template <class Real>
Real pythagOf(Real a, Real b) {
    const Real p = std::fabs(a);
    const Real q = std::fabs(b);
    if (p > q) {
        const Real r = q / p;
        return p * std::sqrt(Real(1) + r * r);
    }
    if (q == Real(0)) {
        return Real(0);
    }
    const Real r = p / q;
    return q * std::sqrt(Real(1) + r * r);
}

template <class Real>
Real signOf(Real a, Real b) {
    return b >= Real(0) ? std::fabs(a) : -std::fabs(a);
}

} // namespace

namespace linalg {

float pythag(float a, float b) { return pythagOf(a, b); }
double pythag(double a, double b) { return pythagOf(a, b); }
float sign(float a, float b) { return signOf(a, b); }
double sign(double a, double b) { return signOf(a, b); }

} // namespace linalg

namespace {

using linalg::pythag;
using linalg::sign;

constexpr int32_t kMaxPasses = 30;

// The element type of a matrix type: float for Matrix, double for DoubleMatrix.
template <class Mat>
using ScalarOf = std::remove_const_t<std::remove_reference_t<decltype(std::declval<Mat&>()(0, 0))>>;

// x is negligible when adding it to anorm leaves anorm unchanged in the
// working precision.
template <class Real>
bool negligible(Real x, Real anorm) {
    const Real sum = std::fabs(x) + anorm;
    return sum == anorm;
}

// Replaces columns j and i of m by their rotation through (c, s).
template <class Mat, class Real>
void rotateColumns(Mat& m, int32_t j, int32_t i, Real c, Real s) {
    for (int32_t r = 0; r < m.rows(); ++r) {
        const Real y = m(r, j);
        const Real z = m(r, i);
        m(r, j) = y * c + z * s;
        m(r, i) = z * c - y * s;
    }
}

// Householder reflection that clears column i below the diagonal; returns
// scale * g, the new diagonal value.
template <class Mat>
ScalarOf<Mat> reflectColumn(Mat& a, int32_t i) {
    using Real = ScalarOf<Mat>;
    const int32_t m = a.rows();
    const int32_t n = a.cols();
    Real scale = Real(0);
    for (int32_t k = i; k < m; ++k) {
        scale = scale + std::fabs(a(k, i));
    }
    if (!(scale != Real(0))) {
        return Real(0); // scale * g with both still 0
    }
    Real s = Real(0);
    for (int32_t k = i; k < m; ++k) {
        a(k, i) = a(k, i) / scale;
        s = s + a(k, i) * a(k, i);
    }
    const Real f = a(i, i);
    const Real g = -sign(std::sqrt(s), f);
    const Real h = f * g - s;
    a(i, i) = f - g;
    for (int32_t j = i + 1; j < n; ++j) {
        Real t = Real(0);
        for (int32_t k = i; k < m; ++k) {
            t = t + a(k, i) * a(k, j);
        }
        const Real fj = t / h;
        for (int32_t k = i; k < m; ++k) {
            a(k, j) = a(k, j) + fj * a(k, i);
        }
    }
    for (int32_t k = i; k < m; ++k) {
        a(k, i) = a(k, i) * scale;
    }
    return scale * g;
}

// Householder reflection that clears row i right of the superdiagonal, using
// e[i+1 ...] as work space; returns scale * g, the next superdiagonal value.
template <class Mat, class Vec>
ScalarOf<Mat> reflectRow(Mat& a, Vec& e, int32_t i) {
    using Real = ScalarOf<Mat>;
    const int32_t m = a.rows();
    const int32_t n = a.cols();
    const int32_t l = i + 1;
    Real scale = Real(0);
    for (int32_t k = l; k < n; ++k) {
        scale = scale + std::fabs(a(i, k));
    }
    if (!(scale != Real(0))) {
        return Real(0);
    }
    Real s = Real(0);
    for (int32_t k = l; k < n; ++k) {
        a(i, k) = a(i, k) / scale;
        s = s + a(i, k) * a(i, k);
    }
    const Real f = a(i, l);
    const Real g = -sign(std::sqrt(s), f);
    const Real h = f * g - s;
    a(i, l) = f - g;
    for (int32_t k = l; k < n; ++k) {
        e[k] = a(i, k) / h;
    }
    for (int32_t j = l; j < m; ++j) {
        Real t = Real(0);
        for (int32_t k = l; k < n; ++k) {
            t = t + a(j, k) * a(i, k);
        }
        for (int32_t k = l; k < n; ++k) {
            a(j, k) = a(j, k) + t * e[k];
        }
    }
    for (int32_t k = l; k < n; ++k) {
        a(i, k) = a(i, k) * scale;
    }
    return scale * g;
}

// Reduces a to upper bidiagonal form: diagonal into w, superdiagonal into e
// (e[0] = 0). Returns anorm, the largest |w[i]| + |e[i]|; a NaN sum never
// replaces it.
template <class Mat, class Vec>
ScalarOf<Mat> reduceToBidiagonal(Mat& a, Vec& w, Vec& e) {
    using Real = ScalarOf<Mat>;
    const int32_t m = a.rows();
    const int32_t n = a.cols();
    Real anorm = Real(0);
    Real nextE = Real(0);
    for (int32_t i = 0; i < n; ++i) {
        e[i] = nextE;
        w[i] = i < m ? reflectColumn(a, i) : Real(0);
        nextE = (i < m && i != n - 1) ? reflectRow(a, e, i) : Real(0);
        const Real size = std::fabs(w[i]) + std::fabs(e[i]);
        if (size > anorm) {
            anorm = size;
        }
    }
    return anorm;
}

// Accumulates the right-hand transformations into v.
template <class Mat, class Vec>
void accumulateRight(const Mat& a, const Vec& e, Mat& v) {
    using Real = ScalarOf<Mat>;
    const int32_t n = a.cols();
    // The reduction always ends with g = 0 and l = n.
    Real g = Real(0);
    int32_t l = n;
    for (int32_t i = n - 1; i >= 0; --i) {
        if (i < n - 1) {
            if (g != Real(0)) {
                for (int32_t j = l; j < n; ++j) {
                    v(j, i) = (a(i, j) / a(i, l)) / g;
                }
                for (int32_t j = l; j < n; ++j) {
                    Real t = Real(0);
                    for (int32_t k = l; k < n; ++k) {
                        t = t + a(i, k) * v(k, j);
                    }
                    for (int32_t k = l; k < n; ++k) {
                        v(k, j) = v(k, j) + t * v(k, i);
                    }
                }
            }
            for (int32_t j = l; j < n; ++j) {
                v(i, j) = Real(0);
                v(j, i) = Real(0);
            }
        }
        v(i, i) = Real(1);
        g = e[i];
        l = i;
    }
}

// Accumulates the left-hand transformations in place: a becomes U.
template <class Mat, class Vec>
void accumulateLeft(Mat& a, const Vec& w) {
    using Real = ScalarOf<Mat>;
    const int32_t m = a.rows();
    const int32_t n = a.cols();
    for (int32_t i = std::min(m, n) - 1; i >= 0; --i) {
        const int32_t l = i + 1;
        Real g = w[i];
        for (int32_t j = l; j < n; ++j) {
            a(i, j) = Real(0);
        }
        if (g != Real(0)) {
            g = Real(1) / g;
            for (int32_t j = l; j < n; ++j) {
                Real t = Real(0);
                for (int32_t k = l; k < m; ++k) {
                    t = t + a(k, i) * a(k, j);
                }
                const Real f = (t / a(i, i)) * g;
                for (int32_t k = i; k < m; ++k) {
                    a(k, j) = a(k, j) + f * a(k, i);
                }
            }
            for (int32_t j = i; j < m; ++j) {
                a(j, i) = a(j, i) * g;
            }
        } else {
            for (int32_t j = i; j < m; ++j) {
                a(j, i) = Real(0);
            }
        }
        a(i, i) = a(i, i) + Real(1);
    }
}

struct Split {
    int32_t l;
    bool cancel; // w[l - 1] is negligible: e[l] must be cancelled first
};

// Looks from k downward for the start l of the unreduced block. e[0] is
// always 0, so the search ends at l = 0 at the latest.
template <class Vec, class Real>
Split findSplit(const Vec& w, const Vec& e, int32_t k, Real anorm) {
    for (int32_t l = k;; --l) {
        if (l == 0 || negligible(e[l], anorm)) {
            return {l, false};
        }
        if (negligible(w[l - 1], anorm)) {
            return {l, true};
        }
    }
}

// Zeroes e[l] ... e[k] by rotations against column l - 1 of a.
template <class Mat, class Vec, class Real>
void cancelSuperdiagonal(Mat& a, Vec& w, Vec& e, int32_t l, int32_t k, Real anorm) {
    const int32_t nm = l - 1;
    Real c = Real(0);
    Real s = Real(1);
    for (int32_t i = l; i <= k; ++i) {
        const Real f = s * e[i];
        e[i] = c * e[i];
        if (negligible(f, anorm)) {
            break;
        }
        const Real g = w[i];
        Real h = pythag(f, g);
        w[i] = h;
        h = Real(1) / h;
        c = g * h;
        s = -(f * h);
        rotateColumns(a, nm, i, c, s);
    }
}

// One implicitly shifted QR sweep over the block l ... k, shift taken from
// the bottom 2 x 2 minor.
template <class Mat, class Vec>
void qrSweep(Mat& a, Vec& w, Mat& v, Vec& e, int32_t l, int32_t k) {
    using Real = ScalarOf<Mat>;
    const int32_t nm = k - 1;
    Real z = w[k];
    Real x = w[l];
    Real y = w[nm];
    Real g = e[nm];
    Real h = e[k];
    Real f = ((y - z) * (y + z) + (g - h) * (g + h)) / ((h * Real(2)) * y);
    g = pythag(f, Real(1));
    f = ((x - z) * (x + z) + h * (y / (f + sign(g, f)) - h)) / x;
    Real c = Real(1);
    Real s = Real(1);
    for (int32_t j = l; j <= nm; ++j) {
        const int32_t i = j + 1;
        g = e[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = pythag(f, h);
        e[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y = y * c;
        rotateColumns(v, j, i, c, s);
        z = pythag(f, h);
        w[j] = z;
        if (z != Real(0)) {
            z = Real(1) / z;
            c = f * z;
            s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        rotateColumns(a, j, i, c, s);
    }
    e[l] = Real(0);
    e[k] = f;
    w[k] = x;
}

// Diagonalises the bidiagonal form; false when a value is still unconverged
// on its last allowed pass.
template <class Mat, class Vec, class Real>
bool diagonalize(Mat& a, Vec& w, Mat& v, Vec& e, Real anorm) {
    for (int32_t k = a.cols() - 1; k >= 0; --k) {
        for (int32_t pass = 0;; ++pass) {
            const Split split = findSplit(w, e, k, anorm);
            if (split.cancel) {
                cancelSuperdiagonal(a, w, e, split.l, k, anorm);
            }
            const Real z = w[k];
            if (split.l == k) {
                if (z < Real(0)) {
                    w[k] = -z;
                    for (int32_t j = 0; j < v.rows(); ++j) {
                        v(j, k) = -v(j, k);
                    }
                }
                break;
            }
            if (pass == kMaxPasses - 1) {
                return false;
            }
            qrSweep(a, w, v, e, split.l, k);
        }
    }
    return true;
}

// The whole decomposition; w and v already have their sizes, e has n elements.
template <class Mat, class Vec>
bool decompose(Mat& a, Vec& w, Mat& v, Vec& e) {
    const auto anorm = reduceToBidiagonal(a, w, e);
    accumulateRight(a, e, v);
    accumulateLeft(a, w);
    return diagonalize(a, w, v, e, anorm);
}

} // namespace

bool Matrix::svd(Vector& w, Matrix& v) {
    const int32_t n = cols_;
    w.resize(n);
    v.resize(n, n);
    Vector e(n);
    return decompose(*this, w, v, e);
}

bool linalg::svd(DoubleMatrix& a, std::vector<double>& w, DoubleMatrix& v) {
    const int32_t n = a.cols();
    w.resize(static_cast<std::size_t>(n));
    v.resize(n, n);
    std::vector<double> e(static_cast<std::size_t>(n));
    return decompose(a, w, v, e);
}

bool Matrix::invert() {
    if (rows_ != cols_) {
        return false;
    }
    Vector w;
    Matrix v;
    if (!svd(w, v)) {
        return false;
    }
    const Matrix& u = *this;
    const int32_t n = rows_;
    Matrix p(MatrixSize{rows_, cols_}, 0.0f);
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            for (int32_t k = 0; k < n; ++k) {
                // Only exactly zero singular values are left out; NaN is kept.
                if (w[k] != 0.0f) {
                    p(i, j) = p(i, j) + (u(j, k) * v(i, k)) / w[k];
                }
            }
        }
    }
    *this = p;
    return true;
}

Matrix Matrix::inverse() const {
    Matrix copy(*this);
    if (!copy.invert()) {
        throw std::runtime_error("Matrix inversion failed");
    }
    return copy;
}
