// A random prepared model for the engine checks: X with a constant last
// column, a P of small values, and confounds from firstConfound to p - 2.
// The statistics need not mean anything; every path must agree bit for bit.
#pragma once

#include <cstdint>
#include <random>

#include "quorvex/VoxelStatistics.h"

inline PreparedModel randomModel(int32_t n, int32_t p, int32_t firstConfound, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    PreparedModel m;
    m.X = Matrix(n, p, 1.0f);
    m.P = Matrix(p, n, 0.0f);
    for (int32_t c = 0; c + 1 < p; ++c)
        for (int32_t t = 0; t < n; ++t) m.X(t, c) = unit(rng);
    for (int32_t r = 0; r < p; ++r)
        for (int32_t t = 0; t < n; ++t) m.P(r, t) = unit(rng) / static_cast<float>(n);
    m.confoundSelector = Vector(p, 0.0f);
    for (int32_t c = firstConfound; c + 1 < p; ++c) m.confoundSelector[c] = 1.0f;
    return m;
}
