// The block voxel engine: the voxel loop of runVoxelLoop, blockWidth voxels
// at a time, with results identical bit for bit to the reference loop.
#pragma once

#include <cstdint>

#include "quorvex/VoxelKernels.h"
#include "quorvex/VoxelLoop.h"

// Writes into data as runVoxelLoop describes. Needs n >= 1 and at least one column per model (the caller falls back to
// the reference loop otherwise).
VoxelLoopResults runBlockEngine(float* const* data, int32_t n, VolumeSize dim, float threshold,
                                const PreparedModel (&models)[2], const bool (&keepResiduals)[2],
                                const VoxelKernels& kernels);
