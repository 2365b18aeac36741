// The time courses of a functional run as the host holds them: volume-major,
// all voxels of volume 0 in linear index order, then volume 1, and so on, with
// a table of one pointer per volume for the plug-in.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "plugin/HostKit.h"

namespace corvantis {

// Storage types of the .fmr "DataType" key: the host contract's codes.
constexpr int32_t kDataTypeInt16 = kFMRDataTypeInt16;
constexpr int32_t kDataTypeFloat32 = kFMRDataTypeFloat32;

class TimeCourses {
public:
    TimeCourses(int32_t volumes, int32_t voxels, int32_t dataType);
    // Moving keeps the buffers, so the pointer table stays valid; a copy would not.
    TimeCourses(TimeCourses&&) = default;
    TimeCourses& operator=(TimeCourses&&) = default;
    TimeCourses(const TimeCourses&) = delete;
    TimeCourses& operator=(const TimeCourses&) = delete;

    int32_t volumes() const { return volumes_; }
    int32_t voxels() const { return voxels_; }
    int32_t dataType() const { return dataType_; }
    // One pointer per volume; null unless the values are float32.
    float** floatVolumes();
    // Every value, volume after volume; null unless the values are float32 (int16Data: int16).
    float* floatData() { return dataType_ == kDataTypeFloat32 ? floats_.data() : nullptr; }
    const float* floatData() const { return dataType_ == kDataTypeFloat32 ? floats_.data() : nullptr; }
    const int16_t* int16Data() const { return dataType_ == kDataTypeInt16 ? shorts_.data() : nullptr; }
    float floatValue(int32_t volume, int32_t voxel) const;
    int16_t int16Value(int32_t volume, int32_t voxel) const;

    // The values as the .stc file holds them (little-endian).
    void readFrom(std::istream& in);
    void writeTo(std::ostream& out) const;

    // Bytes of one value for a data type.
    static std::size_t valueSize(int32_t dataType);

private:
    std::size_t index(int32_t volume, int32_t voxel) const;

    int32_t volumes_;
    int32_t voxels_;
    int32_t dataType_;
    std::vector<float> floats_;
    std::vector<int16_t> shorts_;
    std::vector<float*> volumePointers_;
};

} // namespace corvantis
