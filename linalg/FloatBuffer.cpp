#include "linalg/FloatBuffer.h"

#include <algorithm>
#include <limits>
#include <new>

namespace linalg {
namespace {

int64_t checkedProduct(int64_t count, int32_t extent) {
    if (extent < 0) {
        throw std::bad_alloc();
    }
    const int64_t product = count * extent; // both at most 2^31 - 1: no overflow
    if (product > std::numeric_limits<int32_t>::max()) {
        throw std::bad_alloc();
    }
    return product;
}

} // namespace

int32_t elementCount(int32_t rows, int32_t cols) {
    return static_cast<int32_t>(checkedProduct(checkedProduct(1, rows), cols));
}

int32_t elementCount(int32_t x, int32_t y, int32_t z) {
    return static_cast<int32_t>(checkedProduct(checkedProduct(checkedProduct(1, x), y), z));
}

std::unique_ptr<float[]> allocateFloats(int32_t count) {
    if (count < 0) {
        throw std::bad_alloc();
    }
    if (count == 0) {
        return nullptr;
    }
    return std::unique_ptr<float[]>(new float[static_cast<size_t>(count)]);
}

std::unique_ptr<float[]> filledFloats(int32_t count, float value) {
    std::unique_ptr<float[]> buffer = allocateFloats(count);
    std::fill(buffer.get(), buffer.get() + count, value);
    return buffer;
}

std::unique_ptr<float[]> copiedFloats(const float* source, int32_t count) {
    std::unique_ptr<float[]> buffer = allocateFloats(count);
    if (count > 0) {
        std::copy(source, source + count, buffer.get());
    }
    return buffer;
}

} // namespace linalg
