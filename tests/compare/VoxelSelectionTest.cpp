#include "host/research/VoxelSelection.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "HostTestSupport.h"
#include "host/core/AnalysedVoxels.h"
#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"
#include "host/formats/NiftiWriter.h"

namespace {

using namespace corvantis;

// Voxel l holds base[l] + v in volume v.
TimeCourses coursesOf(const std::vector<float>& base, int32_t volumes) {
    TimeCourses courses(volumes, static_cast<int32_t>(base.size()), kDataTypeFloat32);
    for (int32_t v = 0; v < volumes; ++v) {
        for (std::size_t l = 0; l < base.size(); ++l) courses.floatVolumes()[v][l] = base[l] + static_cast<float>(v);
    }
    return courses;
}

// Means 0.5 .. 99.5 (base 0..99 over volumes 0 and 1): the 2nd percentile lies
// at rank 0.02 * 99 = 1.98, 1.5 + 0.98 = 2.48; the 98th at rank 97.02, 97.52;
// the threshold 2.48 + 0.1 * 95.04 = 11.984.
TEST(AutomaticThreshold, TenPercentFromTheLowToTheHighPercentileOfTheMeanImage) {
    std::vector<float> base;
    for (int l = 99; l >= 0; --l) base.push_back(static_cast<float>(l));
    const AutomaticThreshold automatic = automaticThreshold(coursesOf(base, 2));
    EXPECT_NEAR(automatic.lowPercentile, 2.48, 1e-12);
    EXPECT_NEAR(automatic.highPercentile, 97.52, 1e-12);
    EXPECT_NEAR(automatic.threshold, 11.984f, 1e-5f);
}

TEST(AutomaticThreshold, PassesOverVoxelsWhoseMeanIsNotFinite) {
    std::vector<float> base(50, 1000.0f);
    base.push_back(std::numeric_limits<float>::quiet_NaN());
    base.push_back(std::numeric_limits<float>::infinity());
    const AutomaticThreshold automatic = automaticThreshold(coursesOf(base, 3));
    EXPECT_NEAR(automatic.threshold, 1001.0f, 1e-3f);
}

BrainMask maskOf(std::vector<unsigned char> inside) {
    return BrainMask{"mask.nii.gz", std::move(inside), std::nullopt};
}

TEST(MaskHandover, PositiveRunsGetZeroOutsideAndKeepEveryValueInside) {
    TimeCourses courses = coursesOf({5.0f, 700.0f, 0.5f, 900.0f}, 4);
    const MaskHandover handover = handOverMask(courses, maskOf({0, 1, 1, 0}));
    EXPECT_EQ(handover.outsideValue, 0.0f);
    EXPECT_EQ(handover.threshold, 0.0f);
    EXPECT_EQ(handover.insideUnusable, 0);
    for (int32_t v = 0; v < 4; ++v) {
        EXPECT_EQ(courses.floatValue(v, 0), 0.0f);
        EXPECT_EQ(courses.floatValue(v, 1), 700.0f + v);
        EXPECT_EQ(courses.floatValue(v, 2), 0.5f + v);
        EXPECT_EQ(courses.floatValue(v, 3), 0.0f);
    }
    // Exactly the mask: the dim voxel inside is analysed, the bright one outside is not.
    EXPECT_EQ(analysedVoxelMask(courses, handover.threshold), (std::vector<unsigned char>{0, 1, 1, 0}));
}

TEST(MaskHandover, RunsWithValuesAtOrBelowZeroInsideGetNaNOutside) {
    TimeCourses courses = coursesOf({-40.0f, 3.0f, -2.0f}, 3);
    const MaskHandover handover = handOverMask(courses, maskOf({1, 0, 1}));
    EXPECT_TRUE(std::isnan(handover.outsideValue));
    EXPECT_EQ(handover.threshold, std::numeric_limits<float>::lowest());
    EXPECT_TRUE(std::isnan(courses.floatValue(2, 1)));
    EXPECT_EQ(courses.floatValue(2, 0), -38.0f);
    EXPECT_EQ(analysedVoxelMask(courses, handover.threshold), (std::vector<unsigned char>{1, 0, 1}));
}

TEST(MaskHandover, CountsInsideVoxelsThePluginCannotAnalyse) {
    TimeCourses courses = coursesOf({10.0f, 20.0f, 30.0f}, 2);
    courses.floatVolumes()[0][1] = std::numeric_limits<float>::quiet_NaN();
    const MaskHandover handover = handOverMask(courses, maskOf({1, 1, 0}));
    EXPECT_EQ(handover.insideUnusable, 1);
}

std::string writeMask(const testsupport::TempDir& dir, int nx, int ny, int nz, int nt) {
    NiftiImagePtr image = newImage(nx, ny, nz, nt, DT_FLOAT32);
    static_cast<float*>(image->data)[1] = 1.0f;
    static_cast<float*>(image->data)[2] = std::numeric_limits<float>::quiet_NaN();
    const std::string path = dir.file("mask.nii.gz");
    writeNiftiImage(*image, path);
    return path;
}

TEST(BrainMask, ReadsNonZeroFiniteValuesAsInside) {
    const testsupport::TempDir dir;
    RunLayout run;
    run.dimX = 3;
    run.dimY = 2;
    run.dimZ = 2;
    const BrainMask mask = readBrainMask(writeMask(dir, 3, 2, 2, 1), run, "run.nii.gz");
    EXPECT_EQ(mask.inside, (std::vector<unsigned char>{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(mask.insideCount(), 1);
}

TEST(BrainMask, RefusesAnotherGridNamingBothShapes) {
    const testsupport::TempDir dir;
    RunLayout run;
    run.dimX = 3;
    run.dimY = 2;
    run.dimZ = 2;
    const std::string path = writeMask(dir, 3, 2, 3, 1);
    try {
        readBrainMask(path, run, "run.nii.gz");
        FAIL() << "a mask of another grid was read";
    } catch (const DocumentError& error) {
        EXPECT_EQ(std::string(error.what()), "the mask \"" + path +
                                                 "\" is 3x2x3 but the run \"run.nii.gz\" is 3x2x2 per volume; a mask "
                                                 "must be a 3D image on the run's grid");
    }
    const std::string fourD = writeMask(dir, 3, 2, 2, 5);
    EXPECT_THROW(readBrainMask(fourD, run, "run.nii.gz"), DocumentError);
}

} // namespace

namespace {

std::string writePlaced(const testsupport::TempDir& dir, const std::string& name, int nt, float xOffset) {
    NiftiImagePtr image = newImage(3, 2, 2, nt, DT_FLOAT32);
    static_cast<float*>(image->data)[0] = 1.0f;
    image->sform_code = NIFTI_XFORM_SCANNER_ANAT;
    image->sto_xyz = nifti_make_orthog_mat44(3, 0, 0, 0, 3, 0, 0, 0, 3);
    image->sto_xyz.m[0][3] = xOffset;
    const std::string path = dir.file(name);
    writeNiftiImage(*image, path);
    return path;
}

TEST(BrainMask, WarnsWhenItIsPlacedDifferentlyFromTheRun) {
    const testsupport::TempDir dir;
    RunLayout run;
    run.dimX = 3;
    run.dimY = 2;
    run.dimZ = 2;
    const std::string runPath = writePlaced(dir, "run.nii.gz", 4, -90.0f);
    const std::string same = writePlaced(dir, "same.nii.gz", 1, -90.0f);
    const std::string moved = writePlaced(dir, "moved.nii.gz", 1, -87.0f);
    EXPECT_FALSE(readBrainMask(same, run, runPath).warning.has_value());
    const BrainMask shifted = readBrainMask(moved, run, runPath);
    ASSERT_TRUE(shifted.warning.has_value());
    EXPECT_EQ(*shifted.warning, "the mask \"" + moved + "\" places its voxels in space differently from the run \"" +
                                    runPath +
                                    "\" (another voxel-to-world transform): check that it was made for "
                                    "this run");
    EXPECT_EQ(shifted.insideCount(), 1);
}

} // namespace
