// The voxel loop of a run: every voxel whose time course stays above the
// threshold is fitted with both models.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "linalg/Volume.h"
#include "quorvex/UninitialisedAllocator.h"
#include "quorvex/VoxelStatistics.h"

// Cleaned time courses of the masked voxels, one after another in mask order,
// in one contiguous buffer.
class ResidualCourses {
public:
    explicit ResidualCourses(int32_t n) : n_(n) {}
    void append(const Vector& course) { values_.insert(values_.end(), course.data(), course.data() + n_); }
    // Room for exactly this many courses in all, so that appending never
    // reallocates.
    void reserve(int64_t courses) { values_.reserve(static_cast<size_t>(courses) * static_cast<size_t>(n_)); }
    // A new uninitialised course at the end, for the caller to fill with n values.
    float* appendCourse() {
        values_.resize(values_.size() + static_cast<size_t>(n_));
        return values_.data() + values_.size() - n_;
    }
    int64_t count() const { return n_ == 0 ? 0 : static_cast<int64_t>(values_.size()) / n_; }
    const float* course(int64_t j) const { return values_.data() + j * n_; }
    int32_t length() const { return n_; }

private:
    int32_t n_;
    std::vector<float, UninitialisedAllocator<float>> values_;
};

struct VoxelLoopResults {
    VoxelLoopResults(VolumeSize dim, int32_t n);
    Volume tSNR[2];
    Volume r2adj[2];
    Volume F;
    std::vector<int32_t> mask;        // ascending linear indices
    ResidualCourses residuals[2];     // empty unless kept
};

// How the loop runs. Every path yields the same results bit for bit; the
// reference path is the plain per-voxel loop the others are checked against.
enum class VoxelLoopPath {
    fastest,    // the widest block engine this processor supports
    reference,  // computeVoxelStatistics voxel by voxel
    sse2,       // block engine, SSE2
    avx2,       // block engine, AVX2; std::runtime_error where unsupported
};

// data: one pointer per volume (n of them), each to dim.x*dim.y*dim.z floats.
VoxelLoopResults runVoxelLoop(const float* const* data, int32_t n, VolumeSize dim, float threshold,
                              const PreparedModel (&models)[2], const bool (&keepResiduals)[2],
                              VoxelLoopPath path = VoxelLoopPath::fastest);
