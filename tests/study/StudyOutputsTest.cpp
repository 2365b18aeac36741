// The study's output names, the help that lists them, and the progress lines.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "host/commands/Command.h"
#include "host/research/StudyOutputs.h"
#include "host/research/StudyParticipant.h"

namespace {

TEST(StudyOutputs, NamesAreTheRunTheModelsAndTheRowsEnding) {
    EXPECT_EQ(corvantis::modelLabel("24P", "36P"), "24Pvs36P");
    EXPECT_EQ(corvantis::modelLabel("motion=full,a_comp_cor_0*", "36P"), "motionfullacompcor0vs36P");
    EXPECT_THROW(corvantis::modelLabel("24P", "-,_"), std::invalid_argument);
    EXPECT_EQ(corvantis::studyOutputName("sub-01_task-rest_run-1_space-MNI", "24Pvs36P", "f"),
              "sub-01_task-rest_run-1_space-MNI_model-24Pvs36P_stat-F_statmap.nii.gz");
    EXPECT_EQ(corvantis::studyOutputName("r", "L", "tsnr2"), "r_model-L_desc-model2_stat-tsnr_statmap.nii.gz");
    EXPECT_EQ(corvantis::studyOutputName("r", "L", "summary"), "r_model-L_summary.json");
    EXPECT_THROW(corvantis::studyOutputName("r", "L", "no-such-map"), std::out_of_range);
    // Every ending is distinct, so no two outputs of a run share a name.
    std::set<std::string> endings;
    for (const corvantis::StudyOutput& output : corvantis::studyOutputs()) endings.insert(output.ending);
    EXPECT_EQ(endings.size(), corvantis::studyOutputs().size());
}

TEST(StudyOutputs, TheStudyCommandsHelpListsEveryNameAndEveryGroupColumn) {
    const corvantis::Command* study = corvantis::findCommand("study");
    ASSERT_NE(study, nullptr);
    const std::string help = study->help;
    for (const corvantis::StudyOutput& output : corvantis::studyOutputs()) {
        EXPECT_NE(help.find(std::string("RUN_model-LABEL_") + output.ending), std::string::npos) << output.key;
    }
    for (const char* column : {"run_id", "share_f_survives_fdr", "median_delta_tsnr", "outlier_in", "error"}) {
        EXPECT_NE(help.find(std::string("\n    ") + column + " "), std::string::npos) << column;
    }
}

TEST(StudyProgress, OneLinePerRunAndABarOnlyOnATerminal) {
    corvantis::RunOutcome done{"sub-01_run-1", corvantis::RunOutcome::State::Done, "", 2.04, 1234};
    corvantis::RunOutcome failed{"sub-02_run-1", corvantis::RunOutcome::State::Failed, "no table", 0.1, -1};
    std::ostringstream plain;
    corvantis::StudyProgress lines(plain, 2, false);
    lines.finished(done);
    lines.finished(failed);
    lines.close();
    EXPECT_EQ(plain.str(),
              "Corvantis: sub-01_run-1: 2.0 s, 1234 voxels analysed\n"
              "Corvantis: sub-02_run-1: FAILED: no table\n");
    std::ostringstream terminal;
    corvantis::StudyProgress bar(terminal, 4, true);
    bar.finished(done);
    bar.close();
    EXPECT_EQ(terminal.str(),
              "\r\033[KCorvantis: sub-01_run-1: 2.0 s, 1234 voxels analysed\n[##########"
              "..............................] 1/4 runs\n");
}

} // namespace
