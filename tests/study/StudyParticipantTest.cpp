// The participant and group levels with the stand-in comparison: outputs under
// the study's names, records, resuming, failures that stop nothing, the group
// table and the report.
#include <gtest/gtest.h>

#include <filesystem>

#include "FakeComparison.h"
#include "HostTestSupport.h"
#include "Nibabel.h"
#include "host/commands/CommandLine.h"
#include "host/research/StudyDataset.h"
#include "host/research/StudyGroup.h"
#include "host/research/StudyOutputs.h"
#include "host/research/StudyReport.h"

namespace {

namespace fs = std::filesystem;
using corvantis::RunOutcome;
using hosttest::TempDir;

const char kRun[] = "sub-01_task-rest_run-1_space-MNI";
const char kPrefix[] = "sub-01/func/sub-01_task-rest_run-1_space-MNI_model-24Pvs36P_";

struct Study {
    TempDir dir;
    std::string derivatives, raw, output;
    std::vector<corvantis::PreprocessedRun> runs;
    corvantis::StudyModels models;

    Study() {
        corvantis::StudyDatasetShape shape;
        shape.subjects = 2;
        shape.dimX = shape.dimY = 8;
        shape.dimZ = 4;
        shape.volumes = 40;
        const corvantis::StudyDatasetFiles files = corvantis::writeStudyDataset(dir.file("data"), shape);
        derivatives = files.derivatives;
        raw = files.rawdata;
        output = dir.file("out");
        runs = corvantis::findPreprocessedRuns(derivatives, raw, {});
    }
    RunOutcome run(std::size_t i, const corvantis::RunComparison& compare) {
        return corvantis::runStudyParticipant(runs[i], models, output, compare);
    }
    std::string out(const std::string& name) const { return output + "/" + name; }
};

TEST(StudyParticipant, PlacesTheOutputsUnderTheStudysNamesAndRecordsThemLast) {
    Study s;
    const RunOutcome outcome = s.run(0, studytest::fakeComparison());
    ASSERT_EQ(outcome.state, RunOutcome::State::Done) << outcome.error;
    EXPECT_EQ(outcome.runId, kRun);
    EXPECT_GT(outcome.voxels, 0);
    const std::string prefix = s.out(kPrefix);
    for (const char* ending :
         {"stat-F_statmap.nii.gz", "stat-neglog10p_statmap.nii.gz", "desc-model1_stat-tsnr_statmap.nii.gz",
          "desc-model2_stat-tsnr_statmap.nii.gz", "desc-model2minus1_stat-tsnr_statmap.nii.gz", "summary.json",
          "record.json", "files/model1.sdm"}) {
        EXPECT_TRUE(hosttest::fileExists(prefix + ending)) << ending;
    }
    // Nothing of the comparison's own names or its working folder is left.
    for (const std::string& name : hosttest::filesIn(s.out("sub-01/func"))) {
        EXPECT_EQ(name.rfind("sub-01_task-rest_run-1_space-MNI_model-24Pvs36P_", 0), 0u) << name;
    }
    // The summary names the moved maps and has no timings, so that it is the same every time.
    const std::string summary = hosttest::readFile(prefix + "summary.json");
    EXPECT_NE(summary.find("\"file\": \"sub-01_task-rest_run-1_space-MNI_model-24Pvs36P_stat-F_statmap.nii.gz\""),
              std::string::npos);
    EXPECT_EQ(summary.find("timings"), std::string::npos);
    EXPECT_EQ(summary.find("fake_"), std::string::npos);
    const std::string record = hosttest::readFile(prefix + "record.json");
    EXPECT_NE(record.find("\"status\": \"done\""), std::string::npos);
    EXPECT_NE(record.find("\"file\": \"sub-01_task-rest_run-1_space-MNI_model-24Pvs36P_files/model1.sdm\""),
              std::string::npos);
}

TEST(StudyParticipant, SkipsACurrentRunAndRedoesOneWhoseInputOrModelsChanged) {
    Study s;
    std::atomic<int> calls{0};
    ASSERT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    const std::string record = s.out(std::string(kPrefix) + "record.json");
    const auto written = fs::last_write_time(record);
    EXPECT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Skipped);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(fs::last_write_time(record), written);
    EXPECT_TRUE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    // A touched confound table makes the run stale.
    fs::last_write_time(s.runs[0].confounds, fs::last_write_time(s.runs[0].confounds) + std::chrono::seconds(5));
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    EXPECT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    EXPECT_EQ(calls, 2);
    // A missing output too.
    fs::remove(s.out(std::string(kPrefix) + "stat-F_statmap.nii.gz"));
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    // Other models are another set of outputs.
    s.models.model2 = "24P+gs";
    EXPECT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    EXPECT_TRUE(hosttest::fileExists(s.out("sub-01/func/" + std::string(kRun) + "_model-24Pvs24Pgs_record.json")));
}

TEST(StudyParticipant, AFailedRunIsRecordedWithItsErrorAndKeepsNoOutputs) {
    Study s;
    ASSERT_EQ(s.run(0, studytest::fakeComparison()).state, RunOutcome::State::Done);
    // The run is damaged later: the next attempt fails and the earlier outputs go.
    hosttest::writeFile(s.runs[0].bold, "not a NIfTI file");
    const RunOutcome failed = s.run(0, studytest::fakeComparison());
    ASSERT_EQ(failed.state, RunOutcome::State::Failed);
    EXPECT_NE(failed.error.find(s.runs[0].bold), std::string::npos) << failed.error;
    EXPECT_FALSE(hosttest::fileExists(s.out(std::string(kPrefix) + "stat-F_statmap.nii.gz")));
    EXPECT_FALSE(fs::exists(s.out(std::string(kPrefix) + "files")));
    const std::string record = hosttest::readFile(s.out(std::string(kPrefix) + "record.json"));
    EXPECT_NE(record.find("\"status\": \"failed\""), std::string::npos);
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    // A run without its confound table fails naming the run.
    fs::remove(s.runs[1].confounds);
    s.runs = corvantis::findPreprocessedRuns(s.derivatives, s.raw, {});
    const RunOutcome noTable = s.run(1, studytest::fakeComparison());
    ASSERT_EQ(noTable.state, RunOutcome::State::Failed);
    EXPECT_EQ(noTable.error, "no confound table beside \"" + s.runs[1].bold +
                                 "\" (looked for sub-01_task-rest_run-2_space-MNI's _desc-confounds_timeseries.tsv)");
}

TEST(StudyParticipant, AStudyStoppedDuringARunResumesWithoutRedoingTheFinishedOnes) {
    Study s;
    std::atomic<int> calls{0};
    ASSERT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    // Stopped while the second run was written: its working folder and a stale map are left, no record.
    const std::string stem = "sub-01/func/sub-01_task-rest_run-2_space-MNI_model-24Pvs36P";
    fs::create_directories(s.out("sub-01/func/.sub-01_task-rest_run-2_space-MNI_model-24Pvs36P.partial"));
    hosttest::writeFile(s.out(stem + "_stat-F_statmap.nii.gz"), "cut");
    for (std::size_t i = 0; i < s.runs.size(); ++i) s.run(i, studytest::fakeComparison(&calls));
    EXPECT_EQ(calls, 4); // run 1 once, then runs 2 to 4
    EXPECT_FALSE(fs::exists(s.out("sub-01/func/.sub-01_task-rest_run-2_space-MNI_model-24Pvs36P.partial")));
    EXPECT_GT(fs::file_size(s.out(stem + "_stat-F_statmap.nii.gz")), 100u);
    for (const auto& run : s.runs) EXPECT_TRUE(corvantis::isRunCurrent(run, s.models, s.output)) << run.id;
}

TEST(StudyGroup, CollectsEveryRunFailedAndNotRunOnesTooAndWritesTheTable) {
    Study s;
    ASSERT_EQ(s.run(0, studytest::fakeComparison()).state, RunOutcome::State::Done);
    ASSERT_EQ(s.run(1, [](const corvantis::StudyRunRequest&) { throw std::runtime_error("disk\ton fire"); }).state,
              RunOutcome::State::Failed);
    ASSERT_EQ(s.run(2, studytest::fakeComparison()).state, RunOutcome::State::Done);
    const corvantis::StudyGroup group = corvantis::collectStudyGroup(s.runs, s.models, s.output);
    ASSERT_EQ(group.rows.size(), 4u);
    EXPECT_EQ(group.failedRuns(), 1u);
    EXPECT_EQ(group.runsNotDone(), 2u);
    const std::string table = corvantis::groupTableText(group);
    std::vector<std::string> lines;
    for (const std::string& line : corvantis::splitAt(table, '\n')) lines.push_back(line);
    ASSERT_EQ(lines.size(), 6u); // header, four runs, and the empty rest after the last line end
    EXPECT_EQ(lines[0].rfind("run_id\tsubject\tsession\ttask\trun\tspace\tstatus\tvolumes\t", 0), 0u) << lines[0];
    EXPECT_EQ(lines[2],
              "sub-01_task-rest_run-2_space-MNI\t01\tn/a\trest\t2\tMNI\tfailed\tn/a\tn/a\tn/a\tn/a\tn/a\t"
              "n/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tdisk\\x09on fire");
    EXPECT_EQ(lines[4].rfind("sub-02_task-rest_run-2_space-MNI\t02\tn/a\trest\t2\tMNI\tnot run\tn/a\t", 0), 0u)
        << lines[4];
    // A done run's numbers come from its summary.
    const corvantis::GroupRow& done = group.rows[0];
    EXPECT_EQ(done.status, "done");
    EXPECT_EQ(done.volumes, 40.0);
    EXPECT_EQ(done.fDf2, 3.0);
    EXPECT_EQ(done.voxelsSurviving, 7.0);
    EXPECT_EQ(done.warnings,
              (std::vector<std::string>{"fake comparison of " + fs::path(s.runs[0].bold).filename().string()}));
    EXPECT_TRUE(hosttest::fileExists(done.fMap));
    const std::string html = corvantis::studyReportHtml(group);
    EXPECT_NE(html.find("Model 2 (36P) raises the median tSNR over model 1 (24P) in 2 of 2 runs; 2 runs have no "
                        "result."),
              std::string::npos);
    for (const auto& run : s.runs) EXPECT_NE(html.find(run.id), std::string::npos) << run.id;
    // The record carries the error printable, as every text the study writes.
    EXPECT_NE(html.find("failed: disk\\x09on fire"), std::string::npos);
    EXPECT_NE(html.find("has not run"), std::string::npos);
    EXPECT_NE(html.find("data:image/png;base64,iVBORw0KGgo"), std::string::npos); // a PNG's signature
    EXPECT_EQ(html.find("http://"), html.find("http://www.w3.org/2000/svg"));     // nothing fetched
    EXPECT_EQ(html.find("https://"), std::string::npos);
}

TEST(StudyGroup, NamesRunsBeyondTukeysFencesAsOutliers) {
    corvantis::StudyGroup group;
    const double values[] = {1.0, 1.1, 0.9, 1.05, 0.95, 9.0};
    for (double v : values) {
        corvantis::GroupRow row;
        row.run.id = "run" + std::to_string(group.rows.size());
        row.status = "done";
        row.medianDeltaTsnr = v;
        row.shareFSurvivesFdr = 0.5;
        group.rows.push_back(row);
    }
    corvantis::markOutliers(group);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_TRUE(group.rows[i].outlierIn.empty()) << i;
    EXPECT_EQ(group.rows[5].outlierIn,
              (std::vector<corvantis::GroupMeasure>{corvantis::GroupMeasure::MedianDeltaTsnr}));
    // Three runs are too few to call one an outlier.
    group.rows.resize(3);
    group.rows[2].medianDeltaTsnr = 100.0;
    corvantis::markOutliers(group);
    for (const auto& row : group.rows) EXPECT_TRUE(row.outlierIn.empty());
}

} // namespace

namespace {

// The comparison's summary is the one compare names after the run and the
// models: another file ending in "summary.json" beside it is just kept.
TEST(StudyParticipant, FindsTheSummaryByItsNameBesideAnotherSummaryFile) {
    Study s;
    const corvantis::RunComparison fake = studytest::fakeComparison();
    const RunOutcome outcome = s.run(0, [&fake](const corvantis::StudyRunRequest& request) {
        fake(request);
        hosttest::writeFile(request.outputFolder + "/other_6P_vs_9P_summary.json", "{}\n");
    });
    ASSERT_EQ(outcome.state, RunOutcome::State::Done) << outcome.error;
    EXPECT_TRUE(hosttest::fileExists(s.out(kPrefix) + "summary.json"));
    EXPECT_EQ(hosttest::readFile(s.out(kPrefix) + "files/other_6P_vs_9P_summary.json"), "{}\n");
}

// Every run failed: the headline says so plainly and where the errors are.
TEST(StudyReport, WithNoResultTheHeadlineSaysSoAndPointsToTheFailures) {
    Study s;
    const corvantis::StudyGroup unrun = corvantis::collectStudyGroup(s.runs, s.models, s.output);
    EXPECT_EQ(corvantis::studyDecision(unrun),
              "No run has a result, so nothing is decided: none of the 4 runs has run; run the participant level "
              "first.");
    ASSERT_EQ(s.run(0, [](const corvantis::StudyRunRequest&) { throw std::runtime_error("no disk"); }).state,
              RunOutcome::State::Failed);
    EXPECT_EQ(corvantis::studyDecision(corvantis::collectStudyGroup(s.runs, s.models, s.output)),
              "No run has a result, so nothing is decided: 1 run failed and 3 runs have not run (of 4 runs); each "
              "failed run's error is in the error column of group.tsv and under Warnings in the report.");
    for (std::size_t i = 1; i < s.runs.size(); ++i) {
        s.run(i, [](const corvantis::StudyRunRequest&) { throw std::runtime_error("no disk"); });
    }
    const corvantis::StudyGroup failed = corvantis::collectStudyGroup(s.runs, s.models, s.output);
    const std::string decision = corvantis::studyDecision(failed);
    EXPECT_EQ(decision,
              "No run has a result, so nothing is decided: all 4 runs failed; each failed run's error is in the "
              "error column of group.tsv and under Warnings in the report.");
    const std::string html = corvantis::studyReportHtml(failed);
    EXPECT_NE(html.find("<p class=\"verdict\">No run has a result"), std::string::npos);
    EXPECT_EQ(html.find("0 of 0"), std::string::npos);
}

} // namespace
