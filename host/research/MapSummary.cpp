#include "host/research/MapSummary.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/formats/HostErrors.h"
#include "host/formats/MapImage.h"

namespace corvantis {

MapContents readMapFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw DocumentError("cannot open the map " + inQuotes(path));
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string data = bytes.str();
    const std::size_t headerEnd = kMapFileMagicLength + sizeof(MapHeader);
    if (data.size() < headerEnd || data.compare(0, kMapFileMagicLength, kMapFileMagic) != 0) {
        throw DocumentError(inQuotes(path) + " is not a map file");
    }
    MapContents map;
    std::memcpy(&map.header, data.data() + kMapFileMagicLength, sizeof map.header);
    const MapHeader& h = map.header;
    const int64_t count = static_cast<int64_t>(h.DimX) * h.DimY * h.DimZ;
    if (h.DimX < 0 || h.DimY < 0 || h.DimZ < 0 ||
        static_cast<int64_t>(data.size() - headerEnd) != count * static_cast<int64_t>(sizeof(float))) {
        throw DocumentError(inQuotes(path) + " does not hold the " + std::to_string(count) +
                            " values its header announces");
    }
    map.values.resize(static_cast<std::size_t>(count));
    std::memcpy(map.values.data(), data.data() + headerEnd, map.values.size() * sizeof(float));
    return map;
}

MapStatistics summarize(const MapContents& map) {
    MapStatistics s;
    s.voxels = static_cast<int64_t>(map.values.size());
    std::vector<float> present;
    for (float v : map.values) {
        if (!std::isfinite(v)) {
            ++s.nonFinite;
        } else if (v != 0.0f) {
            present.push_back(v);
            s.positive += v > 0.0f;
            s.aboveLower += v >= map.header.LowerThreshold;
        }
    }
    s.withValue = static_cast<int64_t>(present.size());
    if (!present.empty()) {
        std::sort(present.begin(), present.end());
        s.min = present.front();
        s.max = present.back();
        const std::size_t mid = present.size() / 2;
        s.median = present.size() % 2 ? present[mid] : (present[mid - 1] + static_cast<double>(present[mid])) / 2.0;
    }
    return s;
}

} // namespace corvantis
