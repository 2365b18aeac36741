#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "quorvex/RunGeometry.h"

namespace {

std::string problemOf(int32_t volumes, int32_t x, int32_t y, int32_t z) {
    FMRHeader h;
    std::memset(&h, 0, sizeof h);
    h.NrOfVolumes = volumes;
    h.DimX = x;
    h.DimY = y;
    h.DimZ = z;
    try {
        checkRunGeometry(h);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(RunGeometry, AcceptsRunsTheLoopCanAddress) {
    EXPECT_EQ(problemOf(1, 1, 1, 1), "");
    EXPECT_EQ(problemOf(300, 0, 64, 36), "");     // no voxels: nothing to read
    EXPECT_EQ(problemOf(2, 46340, 46340, 1), ""); // 2147395600 voxels still fit
}

TEST(RunGeometry, RefusesRunsThatWouldBeReadPastTheirBuffers) {
    EXPECT_EQ(problemOf(0, 4, 4, 4), "The FMR has no volumes (NrOfVolumes 0)");
    EXPECT_EQ(problemOf(-3, 4, 4, 4), "The FMR has no volumes (NrOfVolumes -3)");
    EXPECT_EQ(problemOf(10, 4, -1, 4), "The FMR's dimensions 4 x -1 x 4 are invalid");
    EXPECT_EQ(problemOf(10, 65536, 32768, 1), "The FMR's 65536 x 32768 x 1 voxels are more than a run can hold");
}
