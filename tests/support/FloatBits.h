// Bit patterns of floats, for exact comparisons that also tell -0 from +0
// and one NaN from a number.
#pragma once

#include <cstdint>
#include <cstring>

namespace testsupport {

inline uint32_t bitsOf(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

inline float floatOf(uint32_t b) {
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

} // namespace testsupport
