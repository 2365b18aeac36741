#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>

#include "FakeHost.h"
#include "plugin/HostServiceTable.h"
#include "quorvex/SaveMap.h"

namespace {

class SaveMapTest : public ::testing::Test {
protected:
    void TearDown() override { fakehost::uninstall(); }

    static Volume numbered(VolumeSize dim) {
        Volume v(dim, 0.0f);
        for (int32_t i = 0; i < v.count(); ++i) v[i] = static_cast<float>(i) + 0.5f;
        return v;
    }

    static std::string failureOf(const Volume& v) {
        try {
            saveMap(v, 0, 1.0f, 2.0f, 0, 0, "x.map");
        } catch (const std::logic_error& e) {
            return e.what();
        }
        return "no failure";
    }
};

} // namespace

TEST_F(SaveMapTest, CallsTheHostInOrderAndCopiesVoxelsIntoSlices) {
    fakehost::installMapServices(3, 2, 2);
    const Volume v = numbered({3, 2, 2});
    saveMap(v, 4, 2.0f, 7.5f, 0, 0, "/out/model_Fval.map");
    const auto& s = fakehost::state();
    const std::vector<std::string> expected = {"cvCreateMAPForCurrentFMR", "cvGetMAPOfCurrentFMR",
                                               "cvSetMAPParametersOfCurrentFMR",
                                               "cvSaveMAPsOfCurrentFMR /out/model_Fval.map"};
    EXPECT_EQ(s.calls, expected);
    // Slice z, element y * DimX + x holds voxel (z * DimY + y) * DimX + x.
    ASSERT_EQ(s.savedValues.size(), 12u);
    for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(s.savedValues[i], static_cast<float>(i) + 0.5f);
}

TEST_F(SaveMapTest, WritesItsFieldsAndKeepsTheHostsOthers) {
    fakehost::installMapServices(2, 2, 1);
    saveMap(numbered({2, 2, 1}), 4, 2.0f, 0.5f, 3, 0, "m.map");
    const MapHeader& h = fakehost::state().lastParameters;
    EXPECT_EQ(h.MapType, 4);
    EXPECT_EQ(h.LowerThreshold, 2.0f);
    EXPECT_EQ(h.UpperThreshold, 0.5f);
    EXPECT_EQ(h.field28, 0);
    EXPECT_EQ(h.DF1, 3);
    EXPECT_EQ(h.DF2, 36); // a df of 0 leaves the host's value
    EXPECT_EQ(h.reserved24, 24);
    EXPECT_EQ(h.reserved40[0], 40);
    EXPECT_EQ(h.DimX, 2);
}

TEST_F(SaveMapTest, ThresholdsAreTheNearestFloats) {
    fakehost::installMapServices(1, 1, 1);
    saveMap(numbered({1, 1, 1}), 0, 0.05f, 0.5f, 0, 0, "m.map");
    EXPECT_EQ(fakehost::state().lastParameters.LowerThreshold, static_cast<float>(0.05));
}

TEST_F(SaveMapTest, AssertionTextsInCheckOrder) {
    fakehost::installMapServices(3, 2, 2);
    fakehost::state().mapNull = true;
    EXPECT_EQ(failureOf(numbered({3, 2, 2})), "assertion failure (quorvex:169): slices != nullptr");
    fakehost::installMapServices(3, 2, 2);
    // z is checked before y and x.
    EXPECT_EQ(failureOf(numbered({4, 3, 3})), "assertion failure (quorvex:170): dim.z == header.DimZ");
    EXPECT_EQ(failureOf(numbered({4, 3, 2})), "assertion failure (quorvex:171): dim.y == header.DimY");
    EXPECT_EQ(failureOf(numbered({4, 2, 2})), "assertion failure (quorvex:172): dim.x == header.DimX");
}

TEST_F(SaveMapTest, AFailedCheckLeavesTheMapCreatedButNotSaved) {
    fakehost::installMapServices(3, 2, 2);
    failureOf(numbered({3, 2, 1}));
    const std::vector<std::string> expected = {"cvCreateMAPForCurrentFMR", "cvGetMAPOfCurrentFMR"};
    EXPECT_EQ(fakehost::state().calls, expected);
}

TEST_F(SaveMapTest, AMissingServiceIsAnErrorNamingIt) {
    fakehost::installMapServices(1, 1, 1);
    cvts::setHostServiceEntry(cvts::HostService::cvSaveMAPsOfCurrentFMR, nullptr);
    try {
        saveMap(numbered({1, 1, 1}), 0, 1.0f, 2.0f, 0, 0, "m.map");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cvSaveMAPsOfCurrentFMR"), std::string::npos) << e.what();
    }
}
