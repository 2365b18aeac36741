// The voxel loop of a run: every voxel whose time course stays above the
// threshold is fitted with both models.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "linalg/Volume.h"
#include "quorvex/ResidualCourses.h"
#include "quorvex/VoxelStatistics.h"

struct VoxelLoopResults {
    VoxelLoopResults(VolumeSize dim, int32_t n);
    Volume tSNR[2];
    Volume r2adj[2];
    Volume F;
    std::vector<int32_t> mask;    // ascending linear indices
    ResidualCourses residuals[2]; // none unless kept
};

// How the loop runs. Every path yields the same results bit for bit; the
// reference path is the plain per-voxel loop the others are checked against.
enum class VoxelLoopPath {
    fastest,   // the widest block engine this processor supports
    reference, // computeVoxelStatistics voxel by voxel
    sse2,      // block engine, SSE2
    avx2,      // block engine, AVX2; std::runtime_error where unsupported
    avx512,    // block engine, AVX-512F; std::runtime_error where unsupported
};

// data: one pointer per volume (n of them), each to dim.x*dim.y*dim.z floats.
// The reference path only reads it. The block engine writes the cleaned
// courses of the first kept model straight into it at the masked voxels
// (residuals[i] then says inRunData), which is where the run puts them next
// anyway: that saves a copy of the masked data and a pass over it. A second
// kept model's courses are held byVolume.
VoxelLoopResults runVoxelLoop(float* const* data, int32_t n, VolumeSize dim, float threshold,
                              const PreparedModel (&models)[2], const bool (&keepResiduals)[2],
                              VoxelLoopPath path = VoxelLoopPath::fastest);
