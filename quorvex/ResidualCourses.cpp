#include "quorvex/ResidualCourses.h"

#include <stdexcept>

void ResidualCourses::holdByVolume(int64_t courses) {
    layout_ = Layout::byVolume;
    count_ = courses;
    values_.clear();
    values_.resize(static_cast<size_t>(courses) * static_cast<size_t>(n_));
}

float ResidualCourses::value(int64_t j, int32_t v) const {
    switch (layout_) {
    case Layout::byCourse:
        return values_[static_cast<size_t>(j) * static_cast<size_t>(n_) + static_cast<size_t>(v)];
    case Layout::byVolume:
        return values_[static_cast<size_t>(v) * static_cast<size_t>(count_) + static_cast<size_t>(j)];
    case Layout::inRunData:
        break;
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
        // Volume by volume: both sides are walked in address order.
        for (int32_t v = 0; v < n_; ++v) {
            const float* row = values_.data() + static_cast<size_t>(v) * courses;
            float* volume = data[v];
            for (size_t j = 0; j < courses; ++j) volume[mask[j]] = row[j];
        }
    }
}
