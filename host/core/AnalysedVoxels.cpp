#include "host/core/AnalysedVoxels.h"

#include <vector>

namespace corvantis {

std::vector<unsigned char> analysedVoxelMask(const TimeCourses& courses, float threshold) {
    std::vector<unsigned char> mask(static_cast<std::size_t>(courses.voxels()), 0);
    if (courses.dataType() != kDataTypeFloat32 || courses.volumes() < 1) {
        return mask;
    }
    // Volume by volume, as the values lie in memory (straight through them: a
    // whole-brain run holds tens of millions).
    const std::size_t voxels = static_cast<std::size_t>(courses.voxels());
    const float* values = courses.floatData();
    std::vector<float> minima(values, values + voxels);
    for (int32_t v = 1; v < courses.volumes(); ++v) {
        const float* volume = values + static_cast<std::size_t>(v) * voxels;
        for (std::size_t l = 0; l < voxels; ++l) {
            if (minima[l] > volume[l]) minima[l] = volume[l];
        }
    }
    for (std::size_t l = 0; l < minima.size(); ++l) mask[l] = minima[l] > threshold;
    return mask;
}

int64_t countAnalysedVoxels(const TimeCourses& courses, float threshold) {
    int64_t analysed = 0;
    for (const unsigned char inside : analysedVoxelMask(courses, threshold)) analysed += inside;
    return analysed;
}

} // namespace corvantis
