// The generated study: its layout, a confound table as pipelines write it, the
// same bytes from the same seed, and runs nibabel reads as 4D images with the TR.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "HostTestSupport.h"
#include "Nibabel.h"
#include "host/formats/ConfoundTable.h"
#include "host/research/StudyDataset.h"

namespace {

namespace fs = std::filesystem;
using hosttest::TempDir;

corvantis::StudyDatasetShape smallShape() {
    corvantis::StudyDatasetShape shape;
    shape.subjects = 2;
    shape.runs = 2;
    shape.dimX = 10;
    shape.dimY = 10;
    shape.dimZ = 6;
    shape.volumes = 40;
    return shape;
}

const char kRun1[] = "derivatives/sub-01/func/sub-01_task-rest_run-1";

TEST(StudyDataset, WritesTheLayoutOfAPreprocessedStudy) {
    TempDir dir;
    const corvantis::StudyDatasetFiles files = corvantis::writeStudyDataset(dir.path(), smallShape());
    ASSERT_EQ(files.boldRuns.size(), 4u);
    EXPECT_EQ(files.heavyMotionRun, dir.file("derivatives/sub-02/func/sub-02_task-rest_run-2_space-MNI_desc-"
                                             "preproc_bold.nii.gz"));
    for (const char* name : {"rawdata/dataset_description.json", "derivatives/dataset_description.json",
                             "rawdata/sub-02/func/sub-02_task-rest_run-1_events.tsv",
                             "derivatives/sub-01/func/sub-01_task-rest_run-1_space-MNI_desc-brain_mask.nii.gz",
                             "derivatives/sub-01/func/sub-01_task-rest_run-1_desc-confounds_timeseries.json"}) {
        EXPECT_TRUE(hosttest::fileExists(dir.file(name))) << name;
    }
    EXPECT_EQ(hosttest::readFile(dir.file("rawdata/sub-01/func/sub-01_task-rest_run-1_events.tsv")),
              "onset\tduration\ttrial_type\n10.0\t15.0\tvisual\n40.0\t15.0\tmotor\n");
}

TEST(StudyDataset, ConfoundTableIsInRawUnitsWithDerivativesAndComponents) {
    TempDir dir;
    corvantis::writeStudyDataset(dir.path(), smallShape());
    const corvantis::ConfoundTable table =
        corvantis::readConfoundTable(dir.file(std::string(kRun1) + "_desc-confounds_timeseries.tsv"));
    ASSERT_EQ(table.rows(), 40u);
    for (const char* name : {"trans_x", "rot_z_derivative1_power2", "csf_power2", "white_matter_derivative1",
                             "global_signal", "framewise_displacement", "std_dvars", "cosine00", "a_comp_cor_07",
                             "t_comp_cor_02", "non_steady_state_outlier00"}) {
        ASSERT_NE(table.column(name), nullptr) << name;
    }
    // Derivatives and displacement are undefined in the first row only.
    for (const char* name : {"csf_derivative1", "trans_y_derivative1_power2", "framewise_displacement", "dvars"}) {
        EXPECT_FALSE((*table.column(name))[0].has_value()) << name;
        EXPECT_TRUE((*table.column(name))[1].has_value()) << name;
    }
    // Scanner units: the tissue means in the thousands, their squares near 1e7..1e8.
    const double csf = *(*table.column("csf"))[5];
    EXPECT_GT(csf, 5000.0);
    EXPECT_NEAR(*(*table.column("csf_power2"))[5], csf * csf, csf * csf * 1e-8);
    EXPECT_NEAR(*(*table.column("csf_derivative1"))[5], csf - *(*table.column("csf"))[4], 1e-4);
    EXPECT_EQ(*(*table.column("non_steady_state_outlier00"))[0], 1.0);
    EXPECT_EQ(*(*table.column("non_steady_state_outlier00"))[1], 0.0);
    const std::string sidecar = hosttest::readFile(dir.file(std::string(kRun1) + "_desc-confounds_timeseries.json"));
    for (const char* key : {"\"a_comp_cor_04\"", "\"Mask\": \"CSF\"", "\"Method\": \"tCompCor\"",
                            "\"CumulativeVarianceExplained\"", "\"Retained\": false"}) {
        EXPECT_NE(sidecar.find(key), std::string::npos) << key;
    }
    // Run 2 has no non-steady-state volume.
    const corvantis::ConfoundTable second = corvantis::readConfoundTable(
        dir.file("derivatives/sub-01/func/sub-01_task-rest_run-2_desc-confounds_timeseries.tsv"));
    EXPECT_EQ(second.column("non_steady_state_outlier00"), nullptr);
}

double largestDisplacement(const std::string& path) {
    const corvantis::ConfoundTable table = corvantis::readConfoundTable(path);
    double largest = 0.0;
    for (const auto& v : *table.column("framewise_displacement")) largest = std::max(largest, v.value_or(0.0));
    return largest;
}

TEST(StudyDataset, OneRunMovesMuchMoreThanTheOthers) {
    TempDir dir;
    corvantis::writeStudyDataset(dir.path(), smallShape());
    const double heavy =
        largestDisplacement(dir.file("derivatives/sub-02/func/sub-02_task-rest_run-2_desc-confounds_timeseries.tsv"));
    for (const char* other : {"sub-01/func/sub-01_task-rest_run-1", "sub-01/func/sub-01_task-rest_run-2",
                              "sub-02/func/sub-02_task-rest_run-1"}) {
        const double calm =
            largestDisplacement(dir.file(std::string("derivatives/") + other + "_desc-confounds_timeseries.tsv"));
        EXPECT_GT(heavy, 3.0 * calm) << other;
    }
}

TEST(StudyDataset, TheSameSeedGivesTheSameBytesAndAnotherSeedOthers) {
    TempDir a, b, c;
    corvantis::StudyDatasetShape shape = smallShape();
    corvantis::writeStudyDataset(a.path(), shape);
    corvantis::writeStudyDataset(b.path(), shape);
    shape.seed = 2;
    corvantis::writeStudyDataset(c.path(), shape);
    std::size_t compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(a.path())) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = fs::relative(entry.path(), a.path()).string();
        EXPECT_EQ(hosttest::readFile(entry.path().string()), hosttest::readFile(b.file(relative))) << relative;
        ++compared;
    }
    EXPECT_GT(compared, 20u);
    const std::string bold = std::string(kRun1) + "_space-MNI_desc-preproc_bold.nii.gz";
    EXPECT_NE(hosttest::readFile(a.file(bold)), hosttest::readFile(c.file(bold)));
}

TEST(StudyDataset, NibabelReadsTheRunsAndMasks) {
    SKIP_WITHOUT_NIBABEL();
    TempDir dir;
    corvantis::writeStudyDataset(dir.path(), smallShape());
    const hosttest::Outcome outcome = hostio::runPython(
        "import sys, nibabel as nib, numpy as np\n"
        "run = nib.load(sys.argv[1]); mask = nib.load(sys.argv[2])\n"
        "d = run.get_fdata(); m = mask.get_fdata() > 0\n"
        "print(run.shape, [float(z) for z in run.header.get_zooms()], bool(0 < m.sum() < m.size),\n"
        "      bool(d[m].mean(axis=-1).min() > 1000), bool(d[~m].mean() < 200), int(run.header['sform_code']))\n",
        {dir.file(std::string(kRun1) + "_space-MNI_desc-preproc_bold.nii.gz"),
         dir.file(std::string(kRun1) + "_space-MNI_desc-brain_mask.nii.gz")});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    // The head fills part of the grid; inside it every voxel is bright, outside dark.
    EXPECT_EQ(outcome.out, "(10, 10, 6, 40) [3.0, 3.0, 3.0, 2.0] True True True 4\n");
}

} // namespace
