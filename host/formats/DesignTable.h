// A design as the .sdm writer takes it: named columns, the columns of interest
// first, then the confounds, the last column the constant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvantis {

struct DesignTable {
    std::vector<std::string> names;
    std::vector<std::vector<float>> columns; // columns[j][t]
    int32_t firstConfoundPredictor = 1;      // 1-based
};

} // namespace corvantis
