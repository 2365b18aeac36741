// The block kernels, written once over a lane type L that wraps one vector
// instruction set (see VoxelKernelsSse2.cpp, VoxelKernelsAvx2.cpp). Included
// only by those units; L lives in an unnamed namespace there, so every
// instantiation stays inside its own unit and its own target flags.
//
// Each lane repeats the reference sequence of computeVoxelStatistics: every
// product is formed before it is added, every sum starts where the reference
// starts and runs upward. Register tiles only interleave independent sums.
#pragma once

#include <cstddef>
#include <cstdint>

#include "linalg/StdDevFloor.h"
#include "quorvex/VoxelKernels.h"

namespace voxelkernels {

template <class L, int V>
struct BlockKernel {
    using Vec = typename L::Vec;
    static constexpr int W = L::width;
    static constexpr int BW = W * V;
    // Tiles as large as the vector registers allow: R x V accumulators plus
    // V loads and a broadcast for the coefficients, 2 x T x V accumulators
    // plus 2 x V loads and a broadcast for the fit.
    static constexpr int kBetaRows = (L::registers == 32 ? 24 : 12) / V;
    static constexpr int kFitRows = (L::registers == 32 ? 12 : 6) / V;

    static const float* row(const float* base, int32_t t) { return base + static_cast<size_t>(t) * BW; }
    static float* row(float* base, int32_t t) { return base + static_cast<size_t>(t) * BW; }
    // Row r of the block's results (r a BlockResultRow, model i's as kTSNR1 + i).
    static float* result(const BlockData& d, int32_t r) { return row(d.results, r); }

    // beta rows [r0, r0 + R): P(r, 0) * y[0], then + P(r, k) * y[k] for k upward.
    template <int R>
    static void betaTile(const KernelModel& m, const float* Y, int32_t n, int32_t r0, float* beta) {
        // Locals, so that no store can make the compiler reload them.
        const float* const P = m.P + r0;
        const size_t p = static_cast<size_t>(m.p);
        Vec acc[R][V];
        Vec y[V];
        for (int j = 0; j < V; ++j) y[j] = L::load(Y + j * W);
        for (int r = 0; r < R; ++r) {
            const Vec a = L::broadcast(P + r);
            for (int j = 0; j < V; ++j) acc[r][j] = L::mul(a, y[j]);
        }
        for (int32_t k = 1; k < n; ++k) {
            const float* column = P + static_cast<size_t>(k) * p;
            const float* yk = row(Y, k);
            for (int j = 0; j < V; ++j) y[j] = L::load(yk + j * W);
            for (int r = 0; r < R; ++r) {
                const Vec a = L::broadcast(column + r);
                for (int j = 0; j < V; ++j) acc[r][j] = L::add(acc[r][j], L::mul(a, y[j]));
            }
        }
        for (int r = 0; r < R; ++r)
            for (int j = 0; j < V; ++j) L::store(row(beta, r0 + r) + j * W, acc[r][j]);
    }

    static void coefficients(const KernelModel& m, const float* Y, int32_t n, float* beta) {
        constexpr int R = kBetaRows;
        int32_t r = 0;
        for (; r + R <= m.p; r += R) betaTile<R>(m, Y, n, r, beta);
        betaRest<R - 1>(m, Y, n, r, beta);
    }

    // The last m.p - r0 < R rows, as one narrower tile.
    template <int R>
    static void betaRest(const KernelModel& m, const float* Y, int32_t n, int32_t r0, float* beta) {
        if constexpr (R > 0) {
            if (m.p - r0 == R) {
                betaTile<R>(m, Y, n, r0, beta);
            } else {
                betaRest<R - 1>(m, Y, n, r0, beta);
            }
        }
    }

    // Running per-lane sums over the time points of one model.
    struct Sums {
        Vec sse[V];
        Vec cleaned[V];
    };

    // Time points [t0, t0 + T): fit and confound part as X * beta and
    // X * (beta o selector), column 0 first; then the cleaned course and the
    // running sums, in increasing t.
    template <int T>
    static void fitTile(const KernelModel& m, const BlockData& d, float* cleaned, int32_t n, int32_t t0, Sums& s) {
        const float* const X = m.X + t0;
        const int32_t p = m.p;
        const float* const beta = d.beta;
        const float* const selectedBeta = d.selectedBeta;
        Vec fit[T][V];
        Vec conf[T][V];
        for (int t = 0; t < T; ++t) {
            const Vec x = L::broadcast(X + t);
            for (int j = 0; j < V; ++j) {
                fit[t][j] = L::mul(x, L::load(beta + j * W));
                conf[t][j] = L::mul(x, L::load(selectedBeta + j * W));
            }
        }
        for (int32_t c = 1; c < p; ++c) {
            const float* column = X + static_cast<size_t>(c) * n;
            const float* b = row(beta, c);
            const float* bs = row(selectedBeta, c);
            for (int t = 0; t < T; ++t) {
                const Vec x = L::broadcast(column + t);
                for (int j = 0; j < V; ++j) {
                    fit[t][j] = L::add(fit[t][j], L::mul(x, L::load(b + j * W)));
                    conf[t][j] = L::add(conf[t][j], L::mul(x, L::load(bs + j * W)));
                }
            }
        }
        for (int t = 0; t < T; ++t) {
            const int32_t tt = t0 + t;
            for (int j = 0; j < V; ++j) {
                const Vec y = L::load(row(d.Y, tt) + j * W);
                const Vec c = L::sub(y, conf[t][j]);
                L::store(row(cleaned, tt) + j * W, c);
                const Vec e = L::sub(y, fit[t][j]);
                const Vec e2 = L::mul(e, e);
                if (tt == 0) {
                    s.sse[j] = e2;
                    s.cleaned[j] = c;
                } else {
                    s.sse[j] = L::add(s.sse[j], e2);
                    s.cleaned[j] = L::add(s.cleaned[j], c);
                }
            }
        }
    }

    static void fitAll(const KernelModel& m, const BlockData& d, float* cleaned, int32_t n, Sums& s) {
        constexpr int T = kFitRows;
        int32_t t = 0;
        for (; t + T <= n; t += T) fitTile<T>(m, d, cleaned, n, t, s);
        fitRest<T - 1>(m, d, cleaned, n, t, s);
    }

    template <int T>
    static void fitRest(const KernelModel& m, const BlockData& d, float* cleaned, int32_t n, int32_t t0, Sums& s) {
        if constexpr (T > 0) {
            if (n - t0 == T) {
                fitTile<T>(m, d, cleaned, n, t0, s);
            } else {
                fitRest<T - 1>(m, d, cleaned, n, t0, s);
            }
        }
    }

    // One model for the whole block; sst per lane of the block.
    static void fitModel(const BlockProblem& pr, const BlockData& d, int i, const Vec (&sst)[V]) {
        const KernelModel& m = pr.model[i];
        const int32_t n = pr.n;
        coefficients(m, d.Y, n, d.beta);
        for (int32_t r = 0; r < m.p; ++r) {
            const Vec sel = L::broadcast(m.selector + r);
            for (int j = 0; j < V; ++j)
                L::store(row(d.selectedBeta, r) + j * W, L::mul(L::load(row(d.beta, r) + j * W), sel));
        }
        Sums s{}; // every lane sum starts at t = 0 in fitTile; zero only quiets the compiler
        fitAll(m, d, d.cleaned[i], n, s);

        const Vec nf = L::set(pr.nf);
        const Vec nMinusOne = L::set(pr.nMinusOne);
        const Vec floor = L::set(linalg::kStdDevFloor);
        const Vec one = L::set(1.0f);
        const Vec adjustment = L::set(m.adjustment);
        // mean() and stdDev() both divide the same sum by float(n).
        Vec mean[V];
        Vec ss[V];
        for (int j = 0; j < V; ++j) {
            mean[j] = L::div(s.cleaned[j], nf);
            ss[j] = L::set(0.0f);
        }
        // The lanes' sums run side by side, t upward in each.
        for (int32_t t = 0; t < n; ++t) {
            for (int j = 0; j < V; ++j) {
                const Vec dev = L::sub(L::load(row(d.cleaned[i], t) + j * W), mean[j]);
                ss[j] = L::add(ss[j], L::mul(dev, dev));
            }
        }
        for (int j = 0; j < V; ++j) {
            const Vec sd = L::greaterOrZero(L::sqrt(L::div(ss[j], nMinusOne)), ss[j], floor);
            const Vec r2 = L::sub(one, L::div(s.sse[j], sst[j]));
            L::store(result(d, kSse1 + i) + j * W, s.sse[j]);
            L::store(result(d, kTSNR1 + i) + j * W, L::div(mean[j], sd));
            L::store(result(d, kR2adj1 + i) + j * W, L::sub(one, L::mul(L::sub(one, r2), adjustment)));
        }
    }

    static void totalSumOfSquares(const BlockProblem& pr, const float* Y, Vec (&sst)[V]) {
        const Vec nf = L::set(pr.nf);
        Vec sum[V];
        for (int j = 0; j < V; ++j) sum[j] = L::load(Y + j * W);
        for (int32_t t = 1; t < pr.n; ++t)
            for (int j = 0; j < V; ++j) sum[j] = L::add(sum[j], L::load(row(Y, t) + j * W));
        Vec mean[V];
        for (int j = 0; j < V; ++j) {
            mean[j] = L::div(sum[j], nf);
            const Vec dev0 = L::sub(L::load(Y + j * W), mean[j]);
            sst[j] = L::mul(dev0, dev0);
        }
        for (int32_t t = 1; t < pr.n; ++t) {
            for (int j = 0; j < V; ++j) {
                const Vec dev = L::sub(L::load(row(Y, t) + j * W), mean[j]);
                sst[j] = L::add(sst[j], L::mul(dev, dev));
            }
        }
    }

    static bool anyAbove(const Vec (&m)[V], float threshold) {
        const Vec limit = L::set(threshold);
        bool any = false;
        for (int j = 0; j < V; ++j) any = any || L::anyGreater(m[j], limit);
        return any;
    }

    // The block's time courses into Y (a short block is padded with zeros)
    // and each lane's smallest value, as Vector::min forms it, into minima;
    // or, when no lane can pass the threshold, the first row and each lane's
    // first value.
    // Each volume is a stream of its own, too many for the hardware to
    // follow, so the following block's values are requested now, into the
    // outer caches (this block's work would push them out of the first):
    // they arrive while this block is computed.
    static void load(const BlockProblem& pr, const BlockData& d, float* minima) {
        constexpr int kLineFloats = 16;
        Vec m[V];
        for (int j = 0; j < V; ++j) m[j] = L::set(0.0f); // replaced at t = 0
        for (int32_t t = 0; t < pr.n; ++t) {
            if (d.next >= 0) {
                const float* ahead = d.volumes[t] + d.next;
                for (int j = 0; j < BW; j += kLineFloats) __builtin_prefetch(ahead + j, 0, 1);
                __builtin_prefetch(ahead + BW - 1, 0, 1); // the block need not start on a line
            }
            const float* source = d.volumes[t] + d.first;
            float* target = row(d.Y, t);
            if (d.lanes != BW) {
                for (int32_t j = 0; j < BW; ++j) target[j] = j < d.lanes ? source[j] : 0.0f;
                source = target;
            }
            for (int j = 0; j < V; ++j) {
                const Vec y = L::load(source + j * W);
                L::store(target + j * W, y);
                m[j] = t == 0 ? y : L::runningMin(m[j], y);
            }
            // A lane whose first value is not above the threshold fails
            // whatever follows: the running minimum only falls, and a NaN
            // first value stays. A block with no other lane is left after
            // one row; background blocks are read no further.
            if (t == 0 && !anyAbove(m, pr.threshold)) break;
        }
        for (int j = 0; j < V; ++j) L::store(minima + j * W, m[j]);
    }

    // The passing lanes' cleaned values to their destinations; values move
    // bit for bit.
    static void emitRows(const float* cleaned, int32_t n, const BlockOutput& o, const int32_t* passing, int32_t count) {
        for (int32_t t = 0; t < n; ++t) {
            const float* source = row(cleaned, t);
            float* target = o.rows[t] + o.offset;
            // A list's rows lie far apart, one stream each: the next block's
            // places are requested now, where they lie within the row.
            if (o.compact && o.offset + count + BW <= o.rowLength) {
                __builtin_prefetch(target + count, 1, 1);
                __builtin_prefetch(target + count + BW - 1, 1, 1);
            }
            if (count == BW) {
                for (int j = 0; j < V; ++j) L::store(target + j * W, L::load(source + j * W));
            } else if (o.compact) {
                for (int32_t k = 0; k < count; ++k) target[k] = source[passing[k]];
            } else {
                for (int32_t k = 0; k < count; ++k) target[passing[k]] = source[passing[k]];
            }
        }
    }

    // The statistics of a block whose Y load has filled.
    static void block(const BlockProblem& pr, const BlockData& d) {
        Vec sst[V];
        totalSumOfSquares(pr, d.Y, sst);
        fitModel(pr, d, 0, sst);
        fitModel(pr, d, 1, sst);
        for (int i = 0; i < 2; ++i) {
            if (d.out[i].rows != nullptr) emitRows(d.cleaned[i], pr.n, d.out[i], d.passing, d.passingCount);
        }
        if (!pr.hasF) return;
        const Vec dp = L::set(pr.dp);
        const Vec df2 = L::set(pr.df2);
        for (int j = 0; j < V; ++j) {
            const Vec sse1 = L::load(result(d, kSse1) + j * W);
            const Vec sse2 = L::load(result(d, kSse2) + j * W);
            L::store(result(d, kF) + j * W, L::div(L::div(L::sub(sse1, sse2), dp), L::div(sse2, df2)));
        }
    }
};

} // namespace voxelkernels
