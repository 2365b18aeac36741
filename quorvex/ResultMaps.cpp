#include "quorvex/ResultMaps.h"

#include <cstdlib>

#include "quorvex/Paths.h"

std::string mapFileName(const ResultMap& map, const std::string& model1File, const std::string& model2File) {
    const std::string e = stemOf(model1File);
    std::string name = map.stem == NameStem::model1 ? e : stemOf(model2File);
    name += map.infix;
    if (map.namesModel1) {
        name += fileNameOf(e);
    }
    return name + ".map";
}

namespace {

// 0 (the host's value stays) where a count is not positive.
int32_t positiveOrZero(int32_t value) { return value > 0 ? value : 0; }

} // namespace

MapDegreesOfFreedom mapDegreesOfFreedom(const ResultMap& map, int32_t p1, int32_t p2, int32_t n) {
    switch (map.degreesOfFreedom) {
    case DegreesOfFreedom::fTest:
        if (p1 == p2) {
            return MapDegreesOfFreedom{false, 0, 0};
        }
        return MapDegreesOfFreedom{true, positiveOrZero(std::abs(p2 - p1)), positiveOrZero(n - p2)};
    case DegreesOfFreedom::none: break;
    }
    return MapDegreesOfFreedom{true, 0, 0};
}
