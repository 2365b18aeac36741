// A saved .map read back: the header as the host held it and the values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/HostKit.h"

namespace corvantis {

// A map holds at most as many voxels as a run, whose voxels are counted in 32 bits.
constexpr std::uint64_t kMaxMapVoxels = 2147483647;

struct MapContents {
    MapHeader header{};
    std::vector<float> values; // DimZ slices of DimY x DimX values, x fastest
};

// Throws DocumentError naming the file when it is not a complete .map file, when
// an extent is below 1 or the extents make more than kMaxMapVoxels voxels, and
// when the file holds other than the header and the values its extents declare.
MapContents readMapFile(const std::string& path);

} // namespace corvantis
