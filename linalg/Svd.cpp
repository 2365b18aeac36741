// Singular value decomposition A = U diag(w) V' by Householder reduction to
// bidiagonal form and implicitly shifted QR sweeps, and the inversion built
// on it. Every step is a float operation in the written operand order.
#include "linalg/Svd.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>

#include "linalg/Matrix.h"
#include "linalg/Vector.h"

// The convergence tests compare float sums exactly; a wider evaluation would
// change which values count as negligible.
static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must be evaluated in float");

namespace linalg {

float pythag(float a, float b) {
    const float p = std::fabs(a);
    const float q = std::fabs(b);
    if (p > q) {
        const float r = q / p;
        return p * std::sqrt(1.0f + r * r);
    }
    if (q == 0.0f) {
        return 0.0f;
    }
    const float r = p / q;
    return q * std::sqrt(1.0f + r * r);
}

float sign(float a, float b) {
    return b >= 0.0f ? std::fabs(a) : -std::fabs(a);
}

}  // namespace linalg

namespace {

using linalg::pythag;
using linalg::sign;

constexpr int32_t kMaxPasses = 30;

// x is negligible when adding it to anorm leaves anorm unchanged in float.
bool negligible(float x, float anorm) {
    const float sum = std::fabs(x) + anorm;
    return sum == anorm;
}

// Replaces columns j and i of m by their rotation through (c, s).
void rotateColumns(Matrix& m, int32_t j, int32_t i, float c, float s) {
    for (int32_t r = 0; r < m.rows(); ++r) {
        const float y = m(r, j);
        const float z = m(r, i);
        m(r, j) = y * c + z * s;
        m(r, i) = z * c - y * s;
    }
}

// Householder reflection that clears column i below the diagonal; returns
// scale * g, the new diagonal value.
float reflectColumn(Matrix& a, int32_t i) {
    const int32_t m = a.rows();
    const int32_t n = a.cols();
    float scale = 0.0f;
    for (int32_t k = i; k < m; ++k) {
        scale = scale + std::fabs(a(k, i));
    }
    if (!(scale != 0.0f)) {
        return 0.0f;  // scale * g with both still 0
    }
    float s = 0.0f;
    for (int32_t k = i; k < m; ++k) {
        a(k, i) = a(k, i) / scale;
        s = s + a(k, i) * a(k, i);
    }
    const float f = a(i, i);
    const float g = -sign(std::sqrt(s), f);
    const float h = f * g - s;
    a(i, i) = f - g;
    for (int32_t j = i + 1; j < n; ++j) {
        float t = 0.0f;
        for (int32_t k = i; k < m; ++k) {
            t = t + a(k, i) * a(k, j);
        }
        const float fj = t / h;
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
float reflectRow(Matrix& a, Vector& e, int32_t i) {
    const int32_t m = a.rows();
    const int32_t n = a.cols();
    const int32_t l = i + 1;
    float scale = 0.0f;
    for (int32_t k = l; k < n; ++k) {
        scale = scale + std::fabs(a(i, k));
    }
    if (!(scale != 0.0f)) {
        return 0.0f;
    }
    float s = 0.0f;
    for (int32_t k = l; k < n; ++k) {
        a(i, k) = a(i, k) / scale;
        s = s + a(i, k) * a(i, k);
    }
    const float f = a(i, l);
    const float g = -sign(std::sqrt(s), f);
    const float h = f * g - s;
    a(i, l) = f - g;
    for (int32_t k = l; k < n; ++k) {
        e[k] = a(i, k) / h;
    }
    for (int32_t j = l; j < m; ++j) {
        float t = 0.0f;
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
float reduceToBidiagonal(Matrix& a, Vector& w, Vector& e) {
    const int32_t m = a.rows();
    const int32_t n = a.cols();
    float anorm = 0.0f;
    float nextE = 0.0f;
    for (int32_t i = 0; i < n; ++i) {
        e[i] = nextE;
        w[i] = i < m ? reflectColumn(a, i) : 0.0f;
        nextE = (i < m && i != n - 1) ? reflectRow(a, e, i) : 0.0f;
        const float size = std::fabs(w[i]) + std::fabs(e[i]);
        if (size > anorm) {
            anorm = size;
        }
    }
    return anorm;
}

// Accumulates the right-hand transformations into v.
void accumulateRight(const Matrix& a, const Vector& e, Matrix& v) {
    const int32_t n = a.cols();
    // The reduction always ends with g = 0 and l = n.
    float g = 0.0f;
    int32_t l = n;
    for (int32_t i = n - 1; i >= 0; --i) {
        if (i < n - 1) {
            if (g != 0.0f) {
                for (int32_t j = l; j < n; ++j) {
                    v(j, i) = (a(i, j) / a(i, l)) / g;
                }
                for (int32_t j = l; j < n; ++j) {
                    float t = 0.0f;
                    for (int32_t k = l; k < n; ++k) {
                        t = t + a(i, k) * v(k, j);
                    }
                    for (int32_t k = l; k < n; ++k) {
                        v(k, j) = v(k, j) + t * v(k, i);
                    }
                }
            }
            for (int32_t j = l; j < n; ++j) {
                v(i, j) = 0.0f;
                v(j, i) = 0.0f;
            }
        }
        v(i, i) = 1.0f;
        g = e[i];
        l = i;
    }
}

// Accumulates the left-hand transformations in place: a becomes U.
void accumulateLeft(Matrix& a, const Vector& w) {
    const int32_t m = a.rows();
    const int32_t n = a.cols();
    for (int32_t i = std::min(m, n) - 1; i >= 0; --i) {
        const int32_t l = i + 1;
        float g = w[i];
        for (int32_t j = l; j < n; ++j) {
            a(i, j) = 0.0f;
        }
        if (g != 0.0f) {
            g = 1.0f / g;
            for (int32_t j = l; j < n; ++j) {
                float t = 0.0f;
                for (int32_t k = l; k < m; ++k) {
                    t = t + a(k, i) * a(k, j);
                }
                const float f = (t / a(i, i)) * g;
                for (int32_t k = i; k < m; ++k) {
                    a(k, j) = a(k, j) + f * a(k, i);
                }
            }
            for (int32_t j = i; j < m; ++j) {
                a(j, i) = a(j, i) * g;
            }
        } else {
            for (int32_t j = i; j < m; ++j) {
                a(j, i) = 0.0f;
            }
        }
        a(i, i) = a(i, i) + 1.0f;
    }
}

struct Split {
    int32_t l;
    bool cancel;  // w[l - 1] is negligible: e[l] must be cancelled first
};

// Looks from k downward for the start l of the unreduced block. e[0] is
// always 0, so the search ends at l = 0 at the latest.
Split findSplit(const Vector& w, const Vector& e, int32_t k, float anorm) {
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
void cancelSuperdiagonal(Matrix& a, Vector& w, Vector& e, int32_t l, int32_t k, float anorm) {
    const int32_t nm = l - 1;
    float c = 0.0f;
    float s = 1.0f;
    for (int32_t i = l; i <= k; ++i) {
        const float f = s * e[i];
        e[i] = c * e[i];
        if (negligible(f, anorm)) {
            break;
        }
        const float g = w[i];
        float h = pythag(f, g);
        w[i] = h;
        h = 1.0f / h;
        c = g * h;
        s = -(f * h);
        rotateColumns(a, nm, i, c, s);
    }
}

// One implicitly shifted QR sweep over the block l ... k, shift taken from
// the bottom 2 x 2 minor.
void qrSweep(Matrix& a, Vector& w, Matrix& v, Vector& e, int32_t l, int32_t k) {
    const int32_t nm = k - 1;
    float z = w[k];
    float x = w[l];
    float y = w[nm];
    float g = e[nm];
    float h = e[k];
    float f = ((y - z) * (y + z) + (g - h) * (g + h)) / ((h * 2.0f) * y);
    g = pythag(f, 1.0f);
    f = ((x - z) * (x + z) + h * (y / (f + sign(g, f)) - h)) / x;
    float c = 1.0f;
    float s = 1.0f;
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
        if (z != 0.0f) {
            z = 1.0f / z;
            c = f * z;
            s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        rotateColumns(a, j, i, c, s);
    }
    e[l] = 0.0f;
    e[k] = f;
    w[k] = x;
}

// Diagonalises the bidiagonal form; false when a value is still unconverged
// on its last allowed pass.
bool diagonalize(Matrix& a, Vector& w, Matrix& v, Vector& e, float anorm) {
    for (int32_t k = a.cols() - 1; k >= 0; --k) {
        for (int32_t pass = 0;; ++pass) {
            const Split split = findSplit(w, e, k, anorm);
            if (split.cancel) {
                cancelSuperdiagonal(a, w, e, split.l, k, anorm);
            }
            const float z = w[k];
            if (split.l == k) {
                if (z < 0.0f) {
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

}  // namespace

bool Matrix::svd(Vector& w, Matrix& v) {
    const int32_t n = cols_;
    w.resize(n);
    v.resize(n, n);
    Vector e(n);
    const float anorm = reduceToBidiagonal(*this, w, e);
    accumulateRight(*this, e, v);
    accumulateLeft(*this, w);
    return diagonalize(*this, w, v, e, anorm);
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
