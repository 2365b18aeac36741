// A dense single-precision volume, addressed by linear voxel index
// (z * y-extent + y) * x-extent + x.
#pragma once

#include <cstdint>
#include <memory>

#include "linalg/MatrixSize.h"

class Volume {
public:
    Volume(VolumeSize size, float value);
    Volume(const Volume& other);
    Volume& operator=(const Volume& other);
    ~Volume();

    const VolumeSize& dim() const { return dim_; }
    int32_t count() const { return dim_.x * dim_.y * dim_.z; }
    float* data() { return data_.get(); }
    const float* data() const { return data_.get(); }
    float& operator[](int32_t i) { return data_[i]; }
    const float& operator[](int32_t i) const { return data_[i]; }

    Volume operator-(const Volume& b) const;
    // Largest element, the first of equal maxima; 0.0 for a volume without elements.
    float max() const;

private:
    VolumeSize dim_;
    std::unique_ptr<float[]> data_;
};
