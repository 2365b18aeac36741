#include "quorvex/ResidualCourses.h"

#include <cstring>
#include <stdexcept>

#include "quorvex/MemoryPages.h"

namespace {

// Mask entries [entry, entry + length) are the voxels [voxel, voxel + length).
struct MaskRun {
    size_t entry;
    int32_t voxel;
    size_t length;
};

std::vector<MaskRun> maskRuns(const std::vector<int32_t>& mask) {
    std::vector<MaskRun> runs;
    for (size_t j = 0; j < mask.size(); ++j) {
        if (!runs.empty() && mask[j] == runs.back().voxel + static_cast<int32_t>(runs.back().length)) {
            ++runs.back().length;
        } else {
            runs.push_back(MaskRun{j, mask[j], 1});
        }
    }
    return runs;
}

} // namespace

void ResidualCourses::holdByVolume(int64_t room) {
    layout_ = Layout::byVolume;
    count_ = room;
    stride_ = room;
    values_.clear();
    values_.resize(static_cast<size_t>(room) * static_cast<size_t>(n_));
    preparePagesForWriting(values_.data(), values_.size() * sizeof(float));
}

void ResidualCourses::keepFirst(int64_t courses) {
    if (layout_ != Layout::byVolume || courses < 0 || courses > stride_) {
        throw std::logic_error("residual courses cannot keep more than their room");
    }
    count_ = courses;
}

float ResidualCourses::value(int64_t j, int32_t v) const {
    switch (layout_) {
    case Layout::byCourse: return values_[static_cast<size_t>(j) * static_cast<size_t>(n_) + static_cast<size_t>(v)];
    case Layout::byVolume:
        return values_[static_cast<size_t>(v) * static_cast<size_t>(stride_) + static_cast<size_t>(j)];
    case Layout::inRunData: break;
    }
    throw std::logic_error("residual courses that are in the run's data have no values of their own");
}

void ResidualCourses::writeInto(float* const* data, const std::vector<int32_t>& mask) const {
    const size_t courses = static_cast<size_t>(count_);
    if (layout_ != Layout::inRunData && mask.size() != courses) {
        throw std::logic_error("residual courses and mask differ in count");
    }
    if (layout_ == Layout::byCourse) {
        // Voxel by voxel, as the run's description of the residual output has it.
        for (size_t j = 0; j < courses; ++j) {
            const float* course = values_.data() + j * static_cast<size_t>(n_);
            for (int32_t v = 0; v < n_; ++v) data[v][mask[j]] = course[v];
        }
    } else if (layout_ == Layout::byVolume) {
        // Volume by volume, both sides in address order; each run of
        // consecutive voxels in the mask is one block copy.
        const std::vector<MaskRun> runs = maskRuns(mask);
        for (int32_t v = 0; v < n_; ++v) {
            const float* row = values_.data() + static_cast<size_t>(v) * static_cast<size_t>(stride_);
            float* volume = data[v];
            for (const MaskRun& r : runs) std::memcpy(volume + r.voxel, row + r.entry, r.length * sizeof(float));
        }
    }
}
