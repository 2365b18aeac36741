#include "linalg/Volume.h"

#include <algorithm>

#include "linalg/FloatBuffer.h"

Volume::Volume(VolumeSize size, float value)
    : dim_(size), data_(linalg::filledFloats(linalg::elementCount(size.x, size.y, size.z), value)) {}

Volume::Volume(const Volume& other) : dim_(other.dim_), data_(linalg::copiedFloats(other.data(), other.count())) {}

Volume& Volume::operator=(const Volume& other) {
    if (this != &other) {
        const int32_t newCount = other.count();
        if (newCount != count()) {
            data_ = linalg::allocateFloats(newCount);
        }
        dim_ = other.dim_;
        std::copy(other.data(), other.data() + newCount, data());
    }
    return *this;
}

Volume::~Volume() = default;

Volume Volume::operator-(const Volume& b) const {
    Volume out(*this);
    const int32_t n = count();
    for (int32_t i = 0; i < n; ++i) {
        out.data_[i] = data_[i] - b.data_[i];
    }
    return out;
}

// The first of equal maxima wins, and a NaN is taken only as element 0.
float Volume::max() const {
    const int32_t n = count();
    if (n == 0) {
        return 0.0f;
    }
    float largest = data_[0];
    for (int32_t i = 1; i < n; ++i) {
        if (data_[i] > largest) {
            largest = data_[i];
        }
    }
    return largest;
}
