// The layouts a model's cleaned courses wait in, and how each reaches the run.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "quorvex/ResidualCourses.h"

namespace {

constexpr int32_t kVolumes = 3;
constexpr int32_t kVoxels = 5;

// Three volumes of five voxels: value 10 * v + l, so every slot is distinct.
struct SmallRun {
    std::vector<float> values;
    std::vector<float*> volumes;
    SmallRun() : values(kVolumes * kVoxels) {
        for (int32_t v = 0; v < kVolumes; ++v)
            for (int32_t l = 0; l < kVoxels; ++l) values[v * kVoxels + l] = static_cast<float>(10 * v + l);
        for (int32_t v = 0; v < kVolumes; ++v) volumes.push_back(values.data() + v * kVoxels);
    }
};

const std::vector<int32_t> kMask = {1, 3, 4};

// Course j, value v of the test's courses.
float courseValue(int64_t j, int32_t v) { return -100.0f * static_cast<float>(j + 1) - static_cast<float>(v); }

ResidualCourses byCourse() {
    ResidualCourses courses(kVolumes);
    for (int64_t j = 0; j < 3; ++j) {
        Vector c(kVolumes);
        for (int32_t v = 0; v < kVolumes; ++v) c[v] = courseValue(j, v);
        courses.append(c);
    }
    return courses;
}

ResidualCourses byVolume() {
    ResidualCourses courses(kVolumes);
    courses.holdByVolume(3);
    for (int32_t v = 0; v < kVolumes; ++v)
        for (int64_t j = 0; j < 3; ++j) courses.volumeRow(v)[j] = courseValue(j, v);
    return courses;
}

TEST(ResidualCourses, BothStoredLayoutsWriteTheSameValuesAtTheMaskedVoxelsOnly) {
    for (const ResidualCourses& courses : {byCourse(), byVolume()}) {
        EXPECT_EQ(courses.count(), 3);
        for (int64_t j = 0; j < 3; ++j)
            for (int32_t v = 0; v < kVolumes; ++v) EXPECT_EQ(courses.value(j, v), courseValue(j, v));
        SmallRun run;
        courses.writeInto(run.volumes.data(), kMask);
        const std::vector<float> expected = {0,  -100, 2,  -200, -300, //
                                             10, -101, 12, -201, -301, //
                                             20, -102, 22, -202, -302};
        EXPECT_EQ(run.values, expected);
    }
}

TEST(ResidualCourses, RoomBeyondTheKeptCoursesIsNeitherCountedNorWritten) {
    // Room for four voxels a volume, three filled and kept; the fourth
    // place holds a value that must never reach the run.
    ResidualCourses courses(kVolumes);
    courses.holdByVolume(4);
    for (int32_t v = 0; v < kVolumes; ++v) {
        for (int64_t j = 0; j < 3; ++j) courses.volumeRow(v)[j] = courseValue(j, v);
        courses.volumeRow(v)[3] = 999.0f;
    }
    courses.keepFirst(3);
    EXPECT_EQ(courses.count(), 3);
    EXPECT_EQ(courses.value(2, 1), courseValue(2, 1));
    SmallRun run;
    courses.writeInto(run.volumes.data(), kMask);
    for (float x : run.values) EXPECT_NE(x, 999.0f);
    EXPECT_EQ(run.values[2 * kVoxels + 4], courseValue(2, 2));
    EXPECT_THROW(courses.keepFirst(5), std::logic_error);
    EXPECT_THROW(byCourse().keepFirst(1), std::logic_error);
}

TEST(ResidualCourses, CoursesAlreadyInTheRunAreNotWrittenAgain) {
    ResidualCourses courses = byVolume();
    courses.markInRunData(3);
    EXPECT_EQ(courses.layout(), ResidualCourses::Layout::inRunData);
    EXPECT_EQ(courses.count(), 3);
    SmallRun run;
    const std::vector<float> before = run.values;
    courses.writeInto(run.volumes.data(), kMask);
    EXPECT_EQ(run.values, before);
    EXPECT_THROW(courses.value(0, 0), std::logic_error);
}

TEST(ResidualCourses, AMaskOfAnotherLengthIsRefusedBeforeAnythingIsWritten) {
    SmallRun run;
    const std::vector<float> before = run.values;
    EXPECT_THROW(byCourse().writeInto(run.volumes.data(), {1, 3}), std::logic_error);
    EXPECT_THROW(byVolume().writeInto(run.volumes.data(), {0, 1, 2, 3}), std::logic_error);
    EXPECT_EQ(run.values, before);
}

TEST(ResidualCourses, NoCoursesWriteNothing) {
    ResidualCourses empty(kVolumes);
    SmallRun run;
    const std::vector<float> before = run.values;
    empty.writeInto(run.volumes.data(), {});
    EXPECT_EQ(run.values, before);
    EXPECT_EQ(empty.count(), 0);
}

} // namespace
