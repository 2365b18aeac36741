#include "host/research/MapSummary.h"

#include <algorithm>
#include <cmath>

namespace corvantis {

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
