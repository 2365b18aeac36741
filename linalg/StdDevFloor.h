// The floor of the sample standard deviation, shared by Vector::stdDev and
// the block voxel engine's lanes: a sum of squared deviations must lie
// strictly above it to count as variation, otherwise the deviation is 0.0.
// A bare constant, so the engine's units, each compiled with its own target
// flags, share no inline code through it.
#pragma once

namespace linalg {

// The float nearest to 1e-4 (bit pattern 0x38D1B717).
constexpr float kStdDevFloor = 1e-4f;

} // namespace linalg
