#include <gtest/gtest.h>

#include "quorvex/Paths.h"

TEST(Paths, FileNameOfTakesThePartAfterEitherSeparator) {
    EXPECT_EQ(fileNameOf("D:/models/motion.sdm"), "motion.sdm");
    EXPECT_EQ(fileNameOf("D:\\models\\motion.sdm"), "motion.sdm");
    EXPECT_EQ(fileNameOf("D:\\models/sub\\m.sdm"), "m.sdm");
    EXPECT_EQ(fileNameOf("motion.sdm"), "motion.sdm");
    EXPECT_EQ(fileNameOf("dir/"), "");
}

TEST(Paths, StemOfCutsAtTheLastDotOfTheFileName) {
    EXPECT_EQ(stemOf("D:/models/motion.sdm"), "D:/models/motion");
    EXPECT_EQ(stemOf("a.b.c"), "a.b");
    EXPECT_EQ(stemOf("noextension"), "noextension");
    EXPECT_EQ(stemOf("d.v1/model1.sdm"), "d.v1/model1");
    EXPECT_EQ(stemOf("D:\\runs.v2\\run.fmr"), "D:\\runs.v2\\run");
    // A dot only in a folder name starts no extension.
    EXPECT_EQ(stemOf("/data/v1.2/motion"), "/data/v1.2/motion");
    EXPECT_EQ(stemOf("d.v1/model1"), "d.v1/model1");
    EXPECT_EQ(stemOf("D:\\d.v1\\model1"), "D:\\d.v1\\model1");
    EXPECT_EQ(stemOf("d.v1\\sub/model1"), "d.v1\\sub/model1");
}

TEST(Paths, InsertBeforeExtension) {
    EXPECT_EQ(insertBeforeExtension("D:/study/run1.fmr", "_min_confounds_of_motion"),
              "D:/study/run1_min_confounds_of_motion.fmr");
    EXPECT_EQ(insertBeforeExtension("/study/run1", "_x"), "/study/run1_x");
    EXPECT_EQ(insertBeforeExtension("/st.dy/run1", "_x"), "/st.dy/run1_x");
    EXPECT_EQ(insertBeforeExtension("runs.v2/run", "_min_confounds_of_m"), "runs.v2/run_min_confounds_of_m");
    EXPECT_EQ(insertBeforeExtension("runs.v2\\run.fmr", "_x"), "runs.v2\\run_x.fmr");
}

TEST(Paths, ResidualNamesOfTheWorkedExample) {
    const std::string name = fileNameOf("D:/models/motion.sdm");
    const std::string newPath = insertBeforeExtension("D:/study/run1.fmr", "_min_confounds_of_" + stemOf(name));
    EXPECT_EQ(newPath, "D:/study/run1_min_confounds_of_motion.fmr");
    EXPECT_EQ(stemOf(fileNameOf(newPath)), "run1_min_confounds_of_motion");
}
