// One model's cleaned time courses of the masked voxels, held until the run
// writes them into its data before saving them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "linalg/Vector.h"
#include "quorvex/UninitialisedAllocator.h"

class ResidualCourses {
public:
    enum class Layout {
        byCourse,  // one course after another, in mask order (the reference loop)
        byVolume,  // per volume the masked voxels' values, in mask order
        inRunData, // already written into the run's data at the masked voxels
    };

    explicit ResidualCourses(int32_t n) : n_(n) {}

    // byCourse: courses appended one by one.
    void append(const Vector& course) {
        values_.insert(values_.end(), course.data(), course.data() + n_);
        ++count_;
    }

    // byVolume: room in every volume's row for `room` voxels, filled by the
    // caller through volumeRow; count() is `room` until keepFirst lowers it.
    void holdByVolume(int64_t room);
    float* volumeRow(int32_t v) { return values_.data() + static_cast<size_t>(v) * static_cast<size_t>(stride_); }
    // byVolume: only the first `courses` voxels of each row are courses.
    void keepFirst(int64_t courses);

    // inRunData: the caller has written `courses` courses into the run's data.
    void markInRunData(int64_t courses) {
        layout_ = Layout::inRunData;
        count_ = courses;
        values_.clear();
    }

    Layout layout() const { return layout_; }
    int64_t count() const { return count_; }
    int32_t length() const { return n_; }

    // Value v of course j; not for inRunData, whose values live in the run.
    float value(int64_t j, int32_t v) const;

    // data[v][mask[j]] = value v of course j for every course and volume;
    // nothing to do when the courses are in the run's data already.
    void writeInto(float* const* data, const std::vector<int32_t>& mask) const;

private:
    int32_t n_;
    Layout layout_ = Layout::byCourse;
    int64_t count_ = 0;
    int64_t stride_ = 0; // byVolume: values per volume's row
    std::vector<float, UninitialisedAllocator<float>> values_;
};
