// Finding the runs of a derivatives folder: entities, sessions, siblings,
// events from the raw dataset, selection, and folders with nothing to find.
#include <gtest/gtest.h>

#include <filesystem>

#include "HostTestSupport.h"
#include "host/formats/HostErrors.h"
#include "host/research/StudyRuns.h"

namespace {

namespace fs = std::filesystem;
using corvantis::findPreprocessedRuns;
using corvantis::RunSelection;
using hosttest::TempDir;

void touch(const TempDir& dir, const std::string& name) {
    fs::create_directories(fs::path(dir.file(name)).parent_path());
    hosttest::writeFile(dir.file(name), "x");
}

// Two subjects, one with two sessions, a second space, a run without a table,
// and files that only look like runs.
void layOut(const TempDir& d) {
    for (const char* name : {
             "der/sub-01/func/sub-01_task-rest_run-1_space-MNI_desc-preproc_bold.nii.gz",
             "der/sub-01/func/sub-01_task-rest_run-1_space-T1w_desc-preproc_bold.nii.gz",
             "der/sub-01/func/sub-01_task-rest_run-1_desc-confounds_timeseries.tsv",
             "der/sub-01/func/sub-01_task-rest_run-1_desc-confounds_timeseries.json",
             "der/sub-01/func/sub-01_task-rest_run-1_space-MNI_desc-brain_mask.nii.gz",
             "der/sub-02/ses-a/func/sub-02_ses-a_task-nback_run-01_space-MNI_desc-preproc_bold.nii.gz",
             "der/sub-02/ses-a/func/sub-02_ses-a_task-nback_run-01_desc-confounds_timeseries.tsv",
             "der/sub-02/ses-b/func/sub-02_ses-b_task-rest_space-MNI_desc-preproc_bold.nii.gz",
             "der/sub-02/func/sub-02_desc-preproc_T1w.nii.gz",
             "der/sub-02/func/notes_desc-preproc_bold.nii.gz",
             "der/sub-03/anat/sub-03_space-MNI_desc-preproc_bold.nii.gz",
             "raw/sub-01/func/sub-01_task-rest_run-1_events.tsv",
             "raw/sub-02/ses-a/func/sub-02_ses-a_task-nback_run-01_events.tsv",
             "raw/task-rest_events.tsv",
         }) {
        touch(d, name);
    }
}

std::vector<std::string> ids(const std::vector<corvantis::PreprocessedRun>& runs) {
    std::vector<std::string> names;
    for (const auto& run : runs) names.push_back(run.id);
    return names;
}

TEST(StudyRuns, FindsEveryPreprocessedRunWithItsSiblings) {
    TempDir d;
    layOut(d);
    const auto runs = findPreprocessedRuns(d.file("der"), d.file("raw"), {});
    ASSERT_EQ(ids(runs), (std::vector<std::string>{
                             "sub-01_task-rest_run-1_space-MNI", "sub-01_task-rest_run-1_space-T1w",
                             "sub-02_ses-a_task-nback_run-01_space-MNI", "sub-02_ses-b_task-rest_space-MNI"}));
    const corvantis::PreprocessedRun& first = runs[0];
    EXPECT_EQ(first.subject, "01");
    EXPECT_EQ(first.task, "rest");
    EXPECT_EQ(first.run, "1");
    EXPECT_EQ(first.space, "MNI");
    EXPECT_EQ(first.folder, "sub-01/func");
    EXPECT_EQ(first.confounds, d.file("der/sub-01/func/sub-01_task-rest_run-1_desc-confounds_timeseries.tsv"));
    EXPECT_EQ(first.confoundsSidecar, d.file("der/sub-01/func/sub-01_task-rest_run-1_desc-confounds_timeseries.json"));
    EXPECT_EQ(first.mask, d.file("der/sub-01/func/sub-01_task-rest_run-1_space-MNI_desc-brain_mask.nii.gz"));
    EXPECT_EQ(first.events, d.file("raw/sub-01/func/sub-01_task-rest_run-1_events.tsv"));
    // The same run in another space shares the table, but has no mask of its own.
    EXPECT_EQ(runs[1].confounds, first.confounds);
    EXPECT_EQ(runs[1].mask, "");
    EXPECT_EQ(runs[2].session, "a");
    EXPECT_EQ(runs[2].folder, "sub-02/ses-a/func");
    EXPECT_EQ(runs[2].events, d.file("raw/sub-02/ses-a/func/sub-02_ses-a_task-nback_run-01_events.tsv"));
    EXPECT_EQ(runs[2].confoundsSidecar, "");
    // No table beside it: found all the same, so that the study reports it.
    EXPECT_EQ(runs[3].confounds, "");
    // The task's events at the top of the raw dataset serve runs without their own.
    EXPECT_EQ(runs[3].events, d.file("raw/task-rest_events.tsv"));
    // Without a raw dataset there are no events.
    EXPECT_EQ(findPreprocessedRuns(d.file("der"), "", {})[0].events, "");
}

TEST(StudyRuns, SelectsBySubjectTaskSpaceRunAndName) {
    TempDir d;
    layOut(d);
    RunSelection s;
    s.participants = {"sub-02"};
    EXPECT_EQ(findPreprocessedRuns(d.file("der"), "", s).size(), 2u);
    s.participants = {"02"};
    s.runs = {"1"}; // also takes "01"
    EXPECT_EQ(ids(findPreprocessedRuns(d.file("der"), "", s)),
              (std::vector<std::string>{"sub-02_ses-a_task-nback_run-01_space-MNI"}));
    s = {};
    s.spaces = {"T1w"};
    s.tasks = {"rest"};
    EXPECT_EQ(ids(findPreprocessedRuns(d.file("der"), "", s)),
              (std::vector<std::string>{"sub-01_task-rest_run-1_space-T1w"}));
    s = {};
    s.runId = "sub-02_ses-b_task-rest_space-MNI";
    EXPECT_EQ(ids(findPreprocessedRuns(d.file("der"), "", s)), (std::vector<std::string>{s.runId}));
    s.runId = "sub-02_ses-b_task-rest";
    try {
        findPreprocessedRuns(d.file("der"), "", s);
        FAIL() << "a name that is no run's was taken";
    } catch (const corvantis::DocumentError& e) {
        EXPECT_EQ(std::string(e.what()), "none of the 4 preprocessed runs in \"" + d.file("der") +
                                             "\" is selected by --run-id sub-02_ses-b_task-rest");
    }
}

TEST(StudyRuns, RefusesAFolderWithoutRunsNamingWhatItLookedFor) {
    TempDir d;
    touch(d, "der/sub-01/anat/sub-01_desc-preproc_T1w.nii.gz");
    try {
        findPreprocessedRuns(d.file("der"), "", {});
        FAIL() << "a folder without runs was taken";
    } catch (const corvantis::DocumentError& e) {
        EXPECT_EQ(std::string(e.what()), "no preprocessed runs in \"" + d.file("der") +
                                             "\": looked for sub-*/[ses-*/]func/*_desc-preproc_bold.nii.gz");
    }
    EXPECT_THROW(findPreprocessedRuns(d.file("missing"), "", {}), corvantis::DocumentError);
    EXPECT_THROW(findPreprocessedRuns(d.file("der"), d.file("no-raw"), {}), corvantis::DocumentError);
}

TEST(StudyRuns, ParsesBidsNames) {
    const corvantis::BidsName name =
        corvantis::parseBidsName("sub-01_ses-x_task-rest_run-2_space-MNI_desc-preproc_bold.nii.gz");
    EXPECT_EQ(name.suffix, "bold");
    EXPECT_EQ(name.extension, ".nii.gz");
    EXPECT_EQ(name.label("ses"), "x");
    EXPECT_EQ(name.label("echo"), "");
    EXPECT_EQ(name.joined({"space", "desc"}), "sub-01_ses-x_task-rest_run-2");
    EXPECT_EQ(corvantis::parseBidsName("notes_desc-preproc_bold.nii.gz").suffix, "");
    EXPECT_EQ(corvantis::parseBidsName("sub-01_task-a-b_bold.nii.gz").suffix, "");
    EXPECT_EQ(corvantis::parseBidsName("bold.nii.gz").suffix, "");
}

} // namespace
