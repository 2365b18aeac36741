#include <gtest/gtest.h>

#include "quorvex/Paths.h"

TEST(Paths, FileNameOfTakesThePartAfterEitherSeparator) {
    EXPECT_EQ(fileNameOf("D:/models/motion.sdm"), "motion.sdm");
    EXPECT_EQ(fileNameOf("D:\\models\\motion.sdm"), "motion.sdm");
    EXPECT_EQ(fileNameOf("D:\\models/sub\\m.sdm"), "m.sdm");
    EXPECT_EQ(fileNameOf("motion.sdm"), "motion.sdm");
    EXPECT_EQ(fileNameOf("dir/"), "");
}

TEST(Paths, StemOfCutsAtTheLastDotAnywhere) {
    EXPECT_EQ(stemOf("D:/models/motion.sdm"), "D:/models/motion");
    EXPECT_EQ(stemOf("a.b.c"), "a.b");
    EXPECT_EQ(stemOf("noextension"), "noextension");
    // A dot only in a folder name cuts inside the folder part.
    EXPECT_EQ(stemOf("/data/v1.2/motion"), "/data/v1");
}

TEST(Paths, InsertBeforeExtension) {
    EXPECT_EQ(insertBeforeExtension("D:/study/run1.fmr", "_min_confounds_of_motion"),
              "D:/study/run1_min_confounds_of_motion.fmr");
    EXPECT_EQ(insertBeforeExtension("/study/run1", "_x"), "/study/run1_x");
    EXPECT_EQ(insertBeforeExtension("/st.dy/run1", "_x"), "/st_x.dy/run1");
}

TEST(Paths, ResidualNamesOfTheWorkedExample) {
    const std::string name = fileNameOf("D:/models/motion.sdm");
    const std::string newPath = insertBeforeExtension("D:/study/run1.fmr", "_min_confounds_of_" + stemOf(name));
    EXPECT_EQ(newPath, "D:/study/run1_min_confounds_of_motion.fmr");
    EXPECT_EQ(stemOf(fileNameOf(newPath)), "run1_min_confounds_of_motion");
}
