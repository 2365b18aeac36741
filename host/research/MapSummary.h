// Reading a saved .map back and describing its values in a few numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/HostKit.h"

namespace corvantis {

struct MapContents {
    MapHeader header{};
    std::vector<float> values;  // DimZ slices of DimY x DimX values, x fastest
};

// Throws DocumentError naming the file when it is not a complete .map file.
MapContents readMapFile(const std::string& path);

// Over the voxels that hold a value (not exactly 0.0, the mark of a voxel
// outside the mask) and are finite.
struct MapStatistics {
    int64_t voxels = 0;        // all voxels of the map
    int64_t withValue = 0;     // non-zero and finite
    int64_t nonFinite = 0;     // inf or NaN
    int64_t positive = 0;      // above 0
    int64_t aboveLower = 0;    // at or above the lower threshold
    double min = 0, median = 0, max = 0;
};

MapStatistics summarize(const MapContents& map);

} // namespace corvantis
