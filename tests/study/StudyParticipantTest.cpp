// The participant and group levels with the stand-in comparison: outputs under
// the study's names, records, resuming, failures that stop nothing, the group
// table and the report.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "FakeComparison.h"
#include "HostTestSupport.h"
#include "Nibabel.h"
#include "host/commands/CommandLine.h"
#include "host/formats/WorkerThreads.h"
#include "host/research/StudyDataset.h"
#include "host/research/StudyGroup.h"
#include "host/research/StudyOutputs.h"
#include "host/research/StudyProcesses.h"
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
    EXPECT_TRUE(hosttest::fileExists(s.out("sub-01/func/" + std::string(kRun) + "_model-" +
                                           corvantis::modelLabel("24P", "24P+gs") + "_record.json")));
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

using Json = nlohmann::ordered_json;

Json recordOf(const Study& s, const std::string& label) {
    return Json::parse(
        hosttest::readFile(s.out("sub-01/func/" + std::string(kRun) + "_model-" + label + "_record.json")));
}

} // namespace

TEST(StudyRecord, AnEditOfTheConfoundTablesSidecarMakesTheRunStale) {
    Study s;
    std::atomic<int> calls{0};
    ASSERT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    ASSERT_FALSE(s.runs[0].confoundsSidecar.empty());
    // The compcor components' metadata changes, the table itself does not.
    const std::string sidecar = hosttest::readFile(s.runs[0].confoundsSidecar);
    hosttest::writeFile(s.runs[0].confoundsSidecar, sidecar + " ");
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    EXPECT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    EXPECT_EQ(calls, 2);
    // A sidecar that goes away also changes what the designs are built from.
    fs::remove(s.runs[0].confoundsSidecar);
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    // So does the run's own sidecar.
    EXPECT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    const std::string bold = s.runs[0].bold;
    const std::string runSidecar = bold.substr(0, bold.size() - 7) + ".json";
    ASSERT_TRUE(hosttest::fileExists(runSidecar));
    hosttest::writeFile(runSidecar, hosttest::readFile(runSidecar) + "\n");
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
}

TEST(StudyRecord, ListsEveryInputWithItsUnixModificationTimeAndEveryOutputWithItsChecksum) {
    Study s;
    ASSERT_EQ(s.run(0, studytest::fakeComparison()).state, RunOutcome::State::Done);
    const Json record = recordOf(s, "24Pvs36P");
    EXPECT_EQ(record["version"], 2);
    EXPECT_EQ(record["options"], Json::parse(R"({"model1": "24P", "model2": "36P", "cleaned_runs": "none"})"));
    const int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::vector<std::string> files;
    for (const Json& input : record["inputs"]) {
        files.push_back(fs::path(input["file"].get<std::string>()).filename().string());
        const int64_t modified = input["modified_ns"].get<int64_t>();
        // Written by this test moments ago.
        EXPECT_LT(std::llabs(now - modified), int64_t{600} * 1000000000) << input.dump();
        EXPECT_EQ(input["size"].get<int64_t>(), static_cast<int64_t>(fs::file_size(input["file"].get<std::string>())));
    }
    EXPECT_EQ(files, (std::vector<std::string>{
                         "sub-01_task-rest_run-1_space-MNI_desc-preproc_bold.nii.gz",
                         "sub-01_task-rest_run-1_space-MNI_desc-preproc_bold.json",
                         "sub-01_task-rest_run-1_desc-confounds_timeseries.tsv",
                         "sub-01_task-rest_run-1_desc-confounds_timeseries.json",
                         "sub-01_task-rest_run-1_events.tsv",
                         "sub-01_task-rest_run-1_space-MNI_desc-brain_mask.nii.gz",
                     }));
    ASSERT_FALSE(record["outputs"].empty());
    for (const Json& output : record["outputs"]) {
        const std::string path = s.out("sub-01/func/" + output["file"].get<std::string>());
        EXPECT_EQ(output["size"].get<int64_t>(), static_cast<int64_t>(fs::file_size(path)));
        EXPECT_EQ(output["crc32"].get<std::string>().size(), 8u);
    }
    // The checksums, against Python's zlib.
    if (hostio::nibabelMissing().empty()) {
        const hosttest::Outcome sums = hostio::runPython(
            "import sys, json, zlib, os\n"
            "r = json.load(open(sys.argv[1]))\n"
            "bad = [o['file'] for o in r['outputs'] if '%08x' % zlib.crc32(open(os.path.join(sys.argv[2], o['file']), "
            "'rb').read()) != o['crc32']]\n"
            "print(len(r['outputs']), bad)\n",
            {s.out(std::string(kPrefix) + "record.json"), s.out("sub-01/func")});
        ASSERT_EQ(sums.status, 0) << sums.err;
        EXPECT_EQ(sums.out, std::to_string(record["outputs"].size()) + " []\n");
    }
}

TEST(StudyRecord, AnOutputAlteredOrCutShortAfterTheRunIsMadeAgain) {
    Study s;
    std::atomic<int> calls{0};
    ASSERT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    const std::string map = s.out(std::string(kPrefix) + "stat-F_statmap.nii.gz");
    const std::string written = hosttest::readFile(map);
    // One byte changed, the size kept: as a block lost by a power cut reads back.
    std::string altered = written;
    altered[altered.size() / 2] = static_cast<char>(altered[altered.size() / 2] ^ 0x40);
    hosttest::writeFile(map, altered);
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    EXPECT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(hosttest::readFile(map) == written);
    // Cut short.
    hosttest::writeFile(map, written.substr(0, written.size() / 3));
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    EXPECT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    // A record from before the checksums (version 1) is not taken as current.
    Json record = recordOf(s, "24Pvs36P");
    record["version"] = 1;
    hosttest::writeFile(s.out(std::string(kPrefix) + "record.json"), record.dump(2) + "\n");
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
}

TEST(StudyRecord, StrategiesThatDifferOnlyInOtherCharactersKeepOutputsOfTheirOwn) {
    Study s;
    corvantis::StudyModels plain = s.models, starred = s.models;
    plain.model2 = "24P,global_signal";
    starred.model2 = "24P,global_signal*";
    ASSERT_EQ(corvantis::runStudyParticipant(s.runs[0], plain, s.output, studytest::fakeComparison()).state,
              RunOutcome::State::Done);
    ASSERT_EQ(corvantis::runStudyParticipant(s.runs[0], starred, s.output, studytest::fakeComparison()).state,
              RunOutcome::State::Done);
    // The second did not replace the first: both are current, each with its own models.
    EXPECT_TRUE(corvantis::isRunCurrent(s.runs[0], plain, s.output));
    EXPECT_TRUE(corvantis::isRunCurrent(s.runs[0], starred, s.output));
    EXPECT_EQ(recordOf(s, corvantis::modelLabel("24P", "24P,global_signal"))["options"]["model2"], "24P,global_signal");
    EXPECT_EQ(recordOf(s, corvantis::modelLabel("24P", "24P,global_signal*"))["options"]["model2"],
              "24P,global_signal*");
    const corvantis::StudyGroup group = corvantis::collectStudyGroup(s.runs, plain, s.output);
    ASSERT_EQ(group.rows[0].status, "done");
    const Json summary =
        Json::parse(hosttest::readFile(s.out("sub-01/func/" + std::string(kRun) + "_model-" +
                                             corvantis::modelLabel("24P", "24P,global_signal") + "_summary.json")));
    EXPECT_EQ(summary["model2"]["strategy"], "24P,global_signal");
}

TEST(StudyRecord, TheCleanedRunsKeptAreAnOptionOfTheRecord) {
    Study s;
    std::atomic<int> calls{0};
    ASSERT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    s.models.cleanedRuns = corvantis::CleanedRuns{true, false};
    EXPECT_FALSE(corvantis::isRunCurrent(s.runs[0], s.models, s.output));
    EXPECT_EQ(s.run(0, studytest::fakeComparison(&calls)).state, RunOutcome::State::Done);
    EXPECT_EQ(recordOf(s, "24Pvs36P")["options"]["cleaned_runs"], "model1");
    EXPECT_EQ(calls, 2);
}

TEST(StudyProcesses, ARunWhoseProcessCrashesFailsAloneWithWhatItLastSaid) {
    Study s;
    // Run 1 is done and current already: it is skipped without a process.
    ASSERT_EQ(s.run(0, studytest::fakeComparison()).state, RunOutcome::State::Done);
    corvantis::RunProcesses processes;
    processes.program = "/bin/sh";
    processes.jobs = 2;
    std::vector<int> threadsGiven;
    processes.arguments = [&](const corvantis::PreprocessedRun& run, int threads) {
        threadsGiven.push_back(threads);
        if (run.id == s.runs[1].id) {
            return std::vector<std::string>{"-c", "echo 'Corvantis: reading the run' >&2; kill -SEGV $$"};
        }
        return std::vector<std::string>{"-c", "echo 'Corvantis: error: no space left' >&2; exit 1"};
    };
    std::vector<std::string> finished;
    const std::vector<RunOutcome> outcomes = corvantis::runInProcesses(
        s.runs, s.models, s.output, processes, [&](const RunOutcome& o) { finished.push_back(o.runId); });
    ASSERT_EQ(outcomes.size(), 4u);
    EXPECT_EQ(finished.size(), 4u);
    EXPECT_EQ(finished.front(), s.runs[0].id);
    EXPECT_EQ(outcomes[0].state, RunOutcome::State::Skipped);
    EXPECT_EQ(outcomes[1].state, RunOutcome::State::Failed);
    EXPECT_EQ(outcomes[1].error.rfind("the run's process was ended by signal " + std::to_string(SIGSEGV), 0), 0u)
        << outcomes[1].error;
    EXPECT_NE(outcomes[1].error.find("): reading the run"), std::string::npos) << outcomes[1].error;
    for (std::size_t i = 2; i < 4; ++i) {
        EXPECT_EQ(outcomes[i].runId, s.runs[i].id);
        EXPECT_EQ(outcomes[i].state, RunOutcome::State::Failed);
        EXPECT_EQ(outcomes[i].error, "the run's process ended with status 1: error: no space left");
    }
    // Three runs to do, two at once: each gets its share of the cores.
    EXPECT_EQ(threadsGiven, std::vector<int>(3, corvantis::threadsPerRun(corvantis::machineThreads(), 2, 3)));
}
