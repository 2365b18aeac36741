#include "host/formats/TimeCourses.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>

namespace corvantis {

namespace {

bool hostIsLittleEndian() {
    const uint16_t one = 1;
    unsigned char first = 0;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// The files are little-endian whatever the machine; on a big-endian one every
// value is turned around after reading and before writing.
void swapEachValue(char* bytes, std::size_t count, std::size_t size) {
    for (std::size_t i = 0; i < count; ++i) {
        std::reverse(bytes + i * size, bytes + (i + 1) * size);
    }
}

// Streams take counts as std::streamsize; large runs go through in pieces.
constexpr std::size_t kChunkBytes = std::size_t(1) << 26;

void readBytes(std::istream& in, char* bytes, std::size_t count) {
    for (std::size_t done = 0; done < count && in;) {
        const std::size_t piece = std::min(kChunkBytes, count - done);
        in.read(bytes + done, static_cast<std::streamsize>(piece));
        done += piece;
    }
}

void writeBytes(std::ostream& out, const char* bytes, std::size_t count) {
    for (std::size_t done = 0; done < count && out;) {
        const std::size_t piece = std::min(kChunkBytes, count - done);
        out.write(bytes + done, static_cast<std::streamsize>(piece));
        done += piece;
    }
}

} // namespace

TimeCourses::TimeCourses(int32_t volumes, int32_t voxels, int32_t dataType)
    : volumes_(volumes), voxels_(voxels), dataType_(dataType) {
    const std::size_t count = static_cast<std::size_t>(volumes) * static_cast<std::size_t>(voxels);
    if (dataType == kDataTypeFloat32) {
        floats_.assign(count, 0.0f);
        for (int32_t v = 0; v < volumes; ++v) {
            volumePointers_.push_back(floats_.data() + index(v, 0));
        }
    } else {
        shorts_.assign(count, 0);
    }
}

std::size_t TimeCourses::valueSize(int32_t dataType) {
    return dataType == kDataTypeFloat32 ? sizeof(float) : sizeof(int16_t);
}

std::size_t TimeCourses::index(int32_t volume, int32_t voxel) const {
    return static_cast<std::size_t>(volume) * static_cast<std::size_t>(voxels_) + static_cast<std::size_t>(voxel);
}

float** TimeCourses::floatVolumes() { return dataType_ == kDataTypeFloat32 ? volumePointers_.data() : nullptr; }

float TimeCourses::floatValue(int32_t volume, int32_t voxel) const { return floats_[index(volume, voxel)]; }

int16_t TimeCourses::int16Value(int32_t volume, int32_t voxel) const { return shorts_[index(volume, voxel)]; }

void TimeCourses::readFrom(std::istream& in) {
    const std::size_t size = valueSize(dataType_);
    const std::size_t count = floats_.size() + shorts_.size();
    char* bytes = dataType_ == kDataTypeFloat32 ? reinterpret_cast<char*>(floats_.data())
                                                : reinterpret_cast<char*>(shorts_.data());
    readBytes(in, bytes, count * size);
    if (!hostIsLittleEndian()) {
        swapEachValue(bytes, count, size);
    }
}

void TimeCourses::writeTo(std::ostream& out) const {
    const std::size_t size = valueSize(dataType_);
    const std::size_t count = floats_.size() + shorts_.size();
    const char* bytes = dataType_ == kDataTypeFloat32 ? reinterpret_cast<const char*>(floats_.data())
                                                      : reinterpret_cast<const char*>(shorts_.data());
    if (hostIsLittleEndian()) {
        writeBytes(out, bytes, count * size);
        return;
    }
    std::vector<char> swapped(bytes, bytes + count * size);
    swapEachValue(swapped.data(), count, size);
    writeBytes(out, swapped.data(), swapped.size());
}

} // namespace corvantis
