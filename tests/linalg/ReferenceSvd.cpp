#include "ReferenceSvd.h"

#include <algorithm>
#include <cmath>

namespace {

float refPythag(float a, float b) {
    float p = std::fabs(a), q = std::fabs(b);
    if (p > q) {
        float r = q / p;
        return p * std::sqrt(1.0f + r * r);
    }
    if (q == 0.0f) return 0.0f;
    float r = p / q;
    return q * std::sqrt(1.0f + r * r);
}

float refSign(float a, float b) { return b >= 0.0f ? std::fabs(a) : -std::fabs(a); }

bool lost(float x, float anorm) {
    volatile float sum = std::fabs(x) + anorm;
    return sum == anorm;
}

} // namespace

ReferenceSvd referenceSvd(Rows a) {
    const int m = static_cast<int>(a.size());
    const int n = static_cast<int>(a[0].size());
    std::vector<float> w(n), e(n);
    Rows v(n, std::vector<float>(n));
    float g = 0, scale = 0, anorm = 0;
    int l = 0;

    for (int i = 0; i < n; i++) {
        l = i + 1;
        e[i] = scale * g;
        g = 0;
        float s = 0;
        scale = 0;
        if (i < m) {
            for (int k = i; k < m; k++) scale += std::fabs(a[k][i]);
            if (scale != 0) {
                for (int k = i; k < m; k++) {
                    a[k][i] /= scale;
                    s += a[k][i] * a[k][i];
                }
                float f = a[i][i];
                g = -refSign(std::sqrt(s), f);
                float h = f * g - s;
                a[i][i] = f - g;
                for (int j = l; j < n; j++) {
                    float t = 0;
                    for (int k = i; k < m; k++) t += a[k][i] * a[k][j];
                    f = t / h;
                    for (int k = i; k < m; k++) a[k][j] += f * a[k][i];
                }
                for (int k = i; k < m; k++) a[k][i] *= scale;
            }
        }
        w[i] = scale * g;
        g = 0;
        s = 0;
        scale = 0;
        if (i < m && i != n - 1) {
            for (int k = l; k < n; k++) scale += std::fabs(a[i][k]);
            if (scale != 0) {
                for (int k = l; k < n; k++) {
                    a[i][k] /= scale;
                    s += a[i][k] * a[i][k];
                }
                float f = a[i][l];
                g = -refSign(std::sqrt(s), f);
                float h = f * g - s;
                a[i][l] = f - g;
                for (int k = l; k < n; k++) e[k] = a[i][k] / h;
                for (int j = l; j < m; j++) {
                    float t = 0;
                    for (int k = l; k < n; k++) t += a[j][k] * a[i][k];
                    for (int k = l; k < n; k++) a[j][k] += t * e[k];
                }
                for (int k = l; k < n; k++) a[i][k] *= scale;
            }
        }
        float bound = std::fabs(w[i]) + std::fabs(e[i]);
        if (bound > anorm) anorm = bound;
    }

    for (int i = n - 1; i >= 0; i--) {
        if (i < n - 1) {
            if (g != 0) {
                for (int j = l; j < n; j++) v[j][i] = (a[i][j] / a[i][l]) / g;
                for (int j = l; j < n; j++) {
                    float t = 0;
                    for (int k = l; k < n; k++) t += a[i][k] * v[k][j];
                    for (int k = l; k < n; k++) v[k][j] += t * v[k][i];
                }
            }
            for (int j = l; j < n; j++) v[i][j] = v[j][i] = 0;
        }
        v[i][i] = 1;
        g = e[i];
        l = i;
    }

    for (int i = std::min(m, n) - 1; i >= 0; i--) {
        l = i + 1;
        g = w[i];
        for (int j = l; j < n; j++) a[i][j] = 0;
        if (g != 0) {
            g = 1 / g;
            for (int j = l; j < n; j++) {
                float t = 0;
                for (int k = l; k < m; k++) t += a[k][i] * a[k][j];
                float f = (t / a[i][i]) * g;
                for (int k = i; k < m; k++) a[k][j] += f * a[k][i];
            }
            for (int j = i; j < m; j++) a[j][i] *= g;
        } else {
            for (int j = i; j < m; j++) a[j][i] = 0;
        }
        a[i][i] += 1;
    }

    for (int k = n - 1; k >= 0; k--) {
        for (int its = 0; its < 30; its++) {
            bool flag = true;
            int nm = 0;
            for (l = k; l >= 0; l--) {
                nm = l - 1;
                if (lost(e[l], anorm)) {
                    flag = false;
                    break;
                }
                if (lost(w[nm], anorm)) break;
            }
            if (flag) {
                float c = 0, s = 1;
                for (int i = l; i <= k; i++) {
                    float f = s * e[i];
                    e[i] = c * e[i];
                    if (lost(f, anorm)) break;
                    g = w[i];
                    float h = refPythag(f, g);
                    w[i] = h;
                    h = 1 / h;
                    c = g * h;
                    s = -(f * h);
                    for (int j = 0; j < m; j++) {
                        float y = a[j][nm], z = a[j][i];
                        a[j][nm] = y * c + z * s;
                        a[j][i] = z * c - y * s;
                    }
                }
            }
            float z = w[k];
            if (l == k) {
                if (z < 0) {
                    w[k] = -z;
                    for (int j = 0; j < n; j++) v[j][k] = -v[j][k];
                }
                break;
            }
            if (its == 29) return {false, a, w, v};
            float x = w[l];
            nm = k - 1;
            float y = w[nm];
            g = e[nm];
            float h = e[k];
            float f = ((y - z) * (y + z) + (g - h) * (g + h)) / ((h * 2) * y);
            g = refPythag(f, 1);
            f = ((x - z) * (x + z) + h * (y / (f + refSign(g, f)) - h)) / x;
            float c = 1, s = 1;
            for (int j = l; j <= nm; j++) {
                int i = j + 1;
                g = e[i];
                y = w[i];
                h = s * g;
                g = c * g;
                z = refPythag(f, h);
                e[j] = z;
                c = f / z;
                s = h / z;
                f = x * c + g * s;
                g = g * c - x * s;
                h = y * s;
                y *= c;
                for (int jj = 0; jj < n; jj++) {
                    float p = v[jj][j], q = v[jj][i];
                    v[jj][j] = p * c + q * s;
                    v[jj][i] = q * c - p * s;
                }
                z = refPythag(f, h);
                w[j] = z;
                if (z != 0) {
                    z = 1 / z;
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                x = c * y - s * g;
                for (int jj = 0; jj < m; jj++) {
                    float p = a[jj][j], q = a[jj][i];
                    a[jj][j] = p * c + q * s;
                    a[jj][i] = q * c - p * s;
                }
            }
            e[l] = 0;
            e[k] = f;
            w[k] = x;
        }
    }
    return {true, a, w, v};
}

Rows referenceInverse(const ReferenceSvd& d) {
    const int n = static_cast<int>(d.w.size());
    Rows p(n, std::vector<float>(n, 0.0f));
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++)
            for (int k = 0; k < n; k++)
                if (d.w[k] != 0) p[i][j] += (d.u[j][k] * d.v[i][k]) / d.w[k];
    return p;
}
