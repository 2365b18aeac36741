#include "quorvex/VoxelStatistics.h"

#include <utility>

float adjustedR2Factor(float n, float p) { return (n - 1.0f) / ((n - p) - 1.0f); }

namespace {

ModelVoxelResult fitModel(const Vector& y, float sst, const PreparedModel& model) {
    const float n = static_cast<float>(y.size());
    const Vector beta = model.P * y;
    const Vector fit = model.X * beta;
    const Vector confoundPart = model.X * (beta * model.confoundSelector);
    Vector cleaned = y - confoundPart;
    const float sse = (y - fit).squared().sum();
    const float p = static_cast<float>(model.X.cols());
    const float r2 = 1.0f - sse / sst;
    const float adjustment = adjustedR2Factor(n, p);
    const float tSNR = cleaned.mean() / cleaned.stdDev();
    const float r2adj = 1.0f - (1.0f - r2) * adjustment;
    return ModelVoxelResult{sse, p, tSNR, r2adj, std::move(cleaned)};
}

} // namespace

VoxelStatistics computeVoxelStatistics(const Vector& y, const PreparedModel (&models)[2]) {
    const float mean = y.mean();
    const float sst = (y - mean).squared().sum();
    VoxelStatistics out{{fitModel(y, sst, models[0]), fitModel(y, sst, models[1])}, false, 0.0f};
    const ModelVoxelResult& m1 = out.model[0];
    const ModelVoxelResult& m2 = out.model[1];
    out.hasF = m2.p != m1.p;
    if (out.hasF) {
        const float n = static_cast<float>(y.size());
        out.F = ((m1.sse - m2.sse) / (m2.p - m1.p)) / (m2.sse / (n - m2.p));
    }
    return out;
}
