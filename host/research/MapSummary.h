// The values of a saved map described in a few numbers.
#pragma once

#include <cstdint>

#include "host/formats/MapFile.h"

namespace corvantis {

// Over the voxels that hold a value (not exactly 0.0, the mark of a voxel
// outside the mask) and are finite.
struct MapStatistics {
    int64_t voxels = 0;     // all voxels of the map
    int64_t withValue = 0;  // non-zero and finite
    int64_t nonFinite = 0;  // inf or NaN
    int64_t positive = 0;   // above 0
    int64_t aboveLower = 0; // at or above the lower threshold
    double min = 0, median = 0, max = 0;
};

MapStatistics summarize(const MapContents& map);

} // namespace corvantis
