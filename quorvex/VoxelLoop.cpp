#include "quorvex/VoxelLoop.h"

#include <stdexcept>
#include <string>

#include "quorvex/CpuFeatures.h"
#include "quorvex/VoxelEngine.h"

VoxelLoopResults::VoxelLoopResults(VolumeSize dim, int32_t n)
    : tSNR{Volume(dim, 0.0f), Volume(dim, 0.0f)},
      r2adj{Volume(dim, 0.0f), Volume(dim, 0.0f)},
      F(dim, 0.0f),
      residuals{ResidualCourses(n), ResidualCourses(n)} {}

namespace {

Vector timeCourse(const float* const* data, int32_t n, int32_t voxel) {
    Vector y(n);
    for (int32_t v = 0; v < n; ++v) {
        y[v] = data[v][voxel];
    }
    return y;
}

VoxelLoopResults referenceVoxelLoop(const float* const* data, int32_t n, VolumeSize dim, float threshold,
                                    const PreparedModel (&models)[2], const bool (&keepResiduals)[2]);

const VoxelKernels& kernelsOf(SimdLevel level) {
    if (!cpuSupports(level)) {
        throw std::runtime_error(std::string(simdLevelName(level)) + " is not supported by this processor");
    }
    switch (level) {
    case SimdLevel::avx512: return avx512VoxelKernels();
    case SimdLevel::avx2: return avx2VoxelKernels();
    case SimdLevel::sse2: break;
    }
    return sse2VoxelKernels();
}

// The block engine needs at least one time point and one column per model.
bool blockEngineApplies(int32_t n, const PreparedModel (&models)[2]) {
    return n >= 1 && models[0].X.cols() >= 1 && models[1].X.cols() >= 1;
}

} // namespace

VoxelLoopResults runVoxelLoop(float* const* data, int32_t n, VolumeSize dim, float threshold,
                              const PreparedModel (&models)[2], const bool (&keepResiduals)[2], VoxelLoopPath path) {
    if (path == VoxelLoopPath::reference || !blockEngineApplies(n, models)) {
        return referenceVoxelLoop(data, n, dim, threshold, models, keepResiduals);
    }
    const SimdLevel level = path == VoxelLoopPath::sse2     ? SimdLevel::sse2
                            : path == VoxelLoopPath::avx2   ? SimdLevel::avx2
                            : path == VoxelLoopPath::avx512 ? SimdLevel::avx512
                                                            : bestSimdLevel();
    return runBlockEngine(data, n, dim, threshold, models, keepResiduals, kernelsOf(level));
}

namespace {

VoxelLoopResults referenceVoxelLoop(const float* const* data, int32_t n, VolumeSize dim, float threshold,
                                    const PreparedModel (&models)[2], const bool (&keepResiduals)[2]) {
    VoxelLoopResults results(dim, n);
    const int32_t voxelCount = dim.x * dim.y * dim.z;
    for (int32_t l = 0; l < voxelCount; ++l) {
        const Vector y = timeCourse(data, n, l);
        if (!(y.min() > threshold)) {
            continue; // a NaN minimum fails too
        }
        results.mask.push_back(l);
        const VoxelStatistics stats = computeVoxelStatistics(y, models);
        for (int i = 0; i < 2; ++i) {
            if (keepResiduals[i]) {
                results.residuals[i].append(stats.model[i].cleaned);
            }
            results.tSNR[i][l] = stats.model[i].tSNR;
            results.r2adj[i][l] = stats.model[i].r2adj;
        }
        if (stats.hasF) {
            results.F[l] = stats.F;
        }
    }
    return results;
}

} // namespace
