// The .map reader on arbitrary bytes: a DocumentError, or a map whose extents
// are each at least 1 and whose values are exactly as many as they make, which
// the summary then describes without counting more voxels than there are.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzScratch.h"
#include "host/formats/HostErrors.h"
#include "host/formats/MapFile.h"
#include "host/research/MapSummary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::writeScratchFile("fuzz.map", data, size);
    corvantis::MapContents map;
    try {
        map = corvantis::readMapFile(path);
    } catch (const corvantis::DocumentError&) {
        return 0;
    }
    const MapHeader& h = map.header;
    if (h.DimX < 1 || h.DimY < 1 || h.DimZ < 1) fuzzing::broken("a map with an extent below 1 was read");
    const uint64_t voxels =
        static_cast<uint64_t>(h.DimX) * static_cast<uint64_t>(h.DimY) * static_cast<uint64_t>(h.DimZ);
    if (voxels != map.values.size()) {
        fuzzing::broken("the map holds " + std::to_string(map.values.size()) + " values for " + std::to_string(voxels) +
                        " voxels");
    }
    const corvantis::MapStatistics s = corvantis::summarize(map);
    if (s.voxels != static_cast<int64_t>(voxels) || s.withValue + s.nonFinite > s.voxels || s.positive > s.withValue) {
        fuzzing::broken("the summary counts voxels the map does not have");
    }
    return 0;
}
