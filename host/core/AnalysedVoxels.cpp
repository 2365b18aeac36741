#include "host/core/AnalysedVoxels.h"

#include <vector>

namespace corvantis {

std::vector<unsigned char> analysedVoxelMask(const TimeCourses& courses, float threshold) {
    std::vector<unsigned char> mask(static_cast<std::size_t>(courses.voxels()), 0);
    if (courses.dataType() != kDataTypeFloat32 || courses.volumes() < 1) {
        return mask;
    }
    // Volume by volume, as the values lie in memory.
    std::vector<float> minima(static_cast<std::size_t>(courses.voxels()));
    for (int32_t l = 0; l < courses.voxels(); ++l) minima[static_cast<std::size_t>(l)] = courses.floatValue(0, l);
    for (int32_t v = 1; v < courses.volumes(); ++v) {
        for (int32_t l = 0; l < courses.voxels(); ++l) {
            const float value = courses.floatValue(v, l);
            float& smallest = minima[static_cast<std::size_t>(l)];
            if (smallest > value) smallest = value;
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
