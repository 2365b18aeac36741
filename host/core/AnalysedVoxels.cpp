#include "host/core/AnalysedVoxels.h"

#include <vector>

namespace corvantis {

int64_t countAnalysedVoxels(const TimeCourses& courses, float threshold) {
    if (courses.dataType() != kDataTypeFloat32 || courses.volumes() < 1) {
        return 0;
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
    int64_t analysed = 0;
    for (const float smallest : minima) {
        if (smallest > threshold) ++analysed;
    }
    return analysed;
}

} // namespace corvantis
