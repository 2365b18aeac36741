// Element counts and element buffers of Matrix, Vector and Volume.
#pragma once

#include <cstdint>
#include <memory>

namespace linalg {

// The element count of a shape. Throws std::bad_alloc when an extent is
// negative or when the product, or the partial product x*y of a volume, does
// not fit a 32-bit signed integer: such a shape would otherwise get a short
// buffer, and count() would overflow.
int32_t elementCount(int32_t rows, int32_t cols);
int32_t elementCount(int32_t x, int32_t y, int32_t z);

// An uninitialised buffer of count floats, null for 0; std::bad_alloc for a
// negative count.
std::unique_ptr<float[]> allocateFloats(int32_t count);

// A buffer of count floats, every one set to value.
std::unique_ptr<float[]> filledFloats(int32_t count, float value);

// A bit-for-bit copy of count floats from source.
std::unique_ptr<float[]> copiedFloats(const float* source, int32_t count);

} // namespace linalg
