// The study command with the real comparison, as researchers run it: a study
// with one damaged run, a study killed after its first run and started again,
// the Snakemake workflow against the plain command byte for byte, and the
// report in a headless browser.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

#include <nlohmann/json.hpp>

#include "HostTestSupport.h"
#include "Nibabel.h"
#include "host/research/StudyDataset.h"
#include "host/research/StudyOutputs.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using hosttest::TempDir;

const char kDamaged[] = "sub-01_task-rest_run-2_space-MNI";

struct GeneratedStudy {
    TempDir dir;
    std::string derivatives, raw;
    // 36 volumes leave model 2 (24P, two conditions and the constant) 9 residual
    // degrees of freedom, which the comparison warns about.
    explicit GeneratedStudy(bool damaged, int32_t volumes = 80) {
        corvantis::StudyDatasetShape shape;
        shape.subjects = 2;
        shape.runs = 2;
        shape.dimX = shape.dimY = 12;
        shape.dimZ = 8;
        shape.volumes = volumes;
        const corvantis::StudyDatasetFiles files = corvantis::writeStudyDataset(dir.file("data"), shape);
        derivatives = files.derivatives;
        raw = files.rawdata;
        if (damaged) {
            // Cut short, as by a copy that stopped half way.
            const std::string bold = derivatives + "/sub-01/func/" + kDamaged + "_desc-preproc_bold.nii.gz";
            const std::string bytes = hosttest::readFile(bold);
            hosttest::writeFile(bold, bytes.substr(0, bytes.size() / 2));
        }
    }
    std::vector<std::string> args(const std::string& output, const std::string& level) const {
        return {"study", derivatives, output, level, "--bids-dir", raw, "--model1", "6P", "--model2", "24P"};
    }
};

hosttest::Outcome study(const GeneratedStudy& s, const std::string& output, const std::string& level,
                        std::vector<std::string> extra = {}) {
    std::vector<std::string> args = s.args(output, level);
    args.insert(args.end(), extra.begin(), extra.end());
    return hosttest::runProgram(hosttest::corvantisProgram(), args);
}

std::string recordOf(const std::string& output, const std::string& run) {
    return output + "/" + run.substr(0, 6) + "/func/" + run + "_model-6Pvs24P_record.json";
}

const std::vector<std::string> kRuns = {"sub-01_task-rest_run-1_space-MNI", "sub-01_task-rest_run-2_space-MNI",
                                        "sub-02_task-rest_run-1_space-MNI", "sub-02_task-rest_run-2_space-MNI"};

TEST(StudyCommand, ADamagedRunFailsAloneAndTheStudyEndsWithAnError) {
    GeneratedStudy s(true);
    const std::string out = s.dir.file("results");
    const hosttest::Outcome participant = study(s, out, "participant");
    EXPECT_EQ(participant.status, 1) << participant.err;
    EXPECT_NE(participant.err.find("Corvantis: " + std::string(kDamaged) + ": FAILED: "), std::string::npos)
        << participant.err;
    EXPECT_NE(participant.err.find("Corvantis: 1 of 4 runs failed: " + std::string(kDamaged)), std::string::npos);
    for (const std::string& run : kRuns) {
        if (run == kDamaged) continue;
        EXPECT_NE(participant.err.find("Corvantis: " + run + ": "), std::string::npos) << run;
        EXPECT_NE(hosttest::readFile(recordOf(out, run)).find("\"status\": \"done\""), std::string::npos) << run;
    }
    EXPECT_TRUE(hosttest::fileExists(out + "/dataset_description.json"));
    // Every map the other runs wrote is a whole NIfTI image of the run's grid.
    if (hostio::nibabelMissing().empty()) {
        const hosttest::Outcome read = hostio::runPython(
            "import sys, glob, nibabel as nib, numpy as np\n"
            "files = sorted(glob.glob(sys.argv[1] + '/sub-*/func/*_statmap.nii.gz'))\n"
            "shapes = {nib.load(f).get_fdata().shape for f in files}\n"
            "runs = {f.split('/')[-1].split('_model-')[0] for f in files}\n"
            "print(len(files), sorted(shapes), sorted(runs))\n",
            {out});
        ASSERT_EQ(read.status, 0) << read.err;
        EXPECT_EQ(read.out,
                  "24 [(12, 12, 8)] ['sub-01_task-rest_run-1_space-MNI', "
                  "'sub-02_task-rest_run-1_space-MNI', 'sub-02_task-rest_run-2_space-MNI']\n");
    }
    const hosttest::Outcome group = study(s, out, "group");
    EXPECT_EQ(group.status, 1);
    EXPECT_NE(group.out.find("in 3 of 3 runs; 1 run has no result."), std::string::npos) << group.out;
    const std::string table = hosttest::readFile(out + "/group.tsv");
    EXPECT_NE(table.find(std::string(kDamaged) + "\t01\tn/a\trest\t2\tMNI\tfailed\t"), std::string::npos) << table;
    const std::string report = hosttest::readFile(out + "/report.html");
    EXPECT_NE(report.find("<b>" + std::string(kDamaged) + "</b> failed: "), std::string::npos);
    // --keep-going leaves status 0 and still records the failure.
    EXPECT_EQ(study(s, out, "group", {"--keep-going"}).status, 0);
}

// Starts the study and kills it as soon as the first run's record is there.
void killAfterFirstRun(const GeneratedStudy& s, const std::string& out) {
    std::vector<std::string> args = s.args(out, "participant");
    const std::string program = hosttest::corvantisProgram();
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(recordOf(out, kRuns[0])) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(fs::exists(recordOf(out, kRuns[0])));
}

TEST(StudyCommand, KilledAfterItsFirstRunAndStartedAgainItCompletesWithoutRedoingIt) {
    GeneratedStudy s(false);
    const std::string out = s.dir.file("results");
    killAfterFirstRun(s, out);
    const std::string firstRecord = hosttest::readFile(recordOf(out, kRuns[0]));
    const auto firstWritten = fs::last_write_time(recordOf(out, kRuns[0]));
    const std::string firstMap = out + "/sub-01/func/" + kRuns[0] + "_model-6Pvs24P_stat-F_statmap.nii.gz";
    const auto mapWritten = fs::last_write_time(firstMap);
    const hosttest::Outcome again = study(s, out, "participant");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("Corvantis: " + kRuns[0] + ": outputs current, skipped\n"), std::string::npos)
        << again.err;
    EXPECT_EQ(fs::last_write_time(recordOf(out, kRuns[0])), firstWritten);
    EXPECT_EQ(fs::last_write_time(firstMap), mapWritten);
    EXPECT_EQ(hosttest::readFile(recordOf(out, kRuns[0])), firstRecord);
    for (const std::string& run : kRuns) {
        EXPECT_NE(hosttest::readFile(recordOf(out, run)).find("\"status\": \"done\""), std::string::npos) << run;
    }
    // No working folder of the killed run is left.
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
    }
}

bool onPath(const std::string& program) {
    return hosttest::runProgram("/bin/sh", {"-c", "command -v " + program}).status == 0;
}

std::map<std::string, std::string> filesUnder(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), root).string()] = hosttest::readFile(entry.path().string());
        }
    }
    return files;
}

TEST(StudyWorkflow, SnakemakeOnTwoCoresWritesWhatTheCommandWritesByteForByte) {
    if (!onPath("snakemake")) GTEST_SKIP() << "snakemake is not installed";
    GeneratedStudy s(true);
    const std::string direct = s.dir.file("direct"), workflow = s.dir.file("workflow");
    EXPECT_EQ(study(s, direct, "participant").status, 1);
    EXPECT_EQ(study(s, direct, "group").status, 1);
    fs::create_directories(s.dir.file("work"));
    const hosttest::Outcome snakemake = hosttest::runProgram(
        "/usr/bin/env", {"snakemake", "-s", STUDY_WORKFLOW, "-j", "2", "--directory", s.dir.file("work"), "--config",
                         "corvantis=" + hosttest::corvantisProgram(), "derivatives=" + s.derivatives,
                         "output=" + workflow, "bids_dir=" + s.raw, "model1=6P", "model2=24P"});
    // The damaged run fails the workflow at its end, after the report is written.
    EXPECT_NE(snakemake.status, 0);
    EXPECT_NE((snakemake.out + snakemake.err).find("runs without results"), std::string::npos) << snakemake.err;
    EXPECT_NE((snakemake.out + snakemake.err).find(std::string(kDamaged) + " (failed)"), std::string::npos);
    const auto expected = filesUnder(direct), actual = filesUnder(workflow);
    EXPECT_GT(expected.size(), 30u);
    ASSERT_EQ(actual.size(), expected.size());
    for (const auto& [name, bytes] : expected) {
        ASSERT_EQ(actual.count(name), 1u) << name;
        EXPECT_TRUE(actual.at(name) == bytes) << name << " differs";
    }
}

// The runs whose participant job Snakemake ran (or with -n would run), from its log.
std::set<std::string> participantJobs(const hosttest::Outcome& snakemake) {
    std::set<std::string> runs;
    std::istringstream lines(snakemake.out + snakemake.err);
    const std::string key = "wildcards: record=";
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(key);
        if (at == std::string::npos) continue;
        const std::string record = line.substr(line.rfind('/') + 1);
        runs.insert(record.substr(0, record.find("_model-")));
    }
    return runs;
}

TEST(StudyWorkflow, SnakemakeRerunsExactlyTheRunsWhoseInputsOrModelsChangedOrWhoseLastAttemptFailed) {
    if (!onPath("snakemake")) GTEST_SKIP() << "snakemake is not installed";
    GeneratedStudy s(false);
    const std::string out = s.dir.file("results");
    fs::create_directories(s.dir.file("work"));
    const auto snakemake = [&](const std::string& model2, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"snakemake", "-s", STUDY_WORKFLOW, "-j", "2", "--directory", s.dir.file("work")};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {"--config", "corvantis=" + hosttest::corvantisProgram(), "derivatives=" + s.derivatives,
                                 "output=" + out, "bids_dir=" + s.raw, "model1=6P", "model2=" + model2});
        return hosttest::runProgram("/usr/bin/env", args);
    };
    const auto fileOf = [&](const std::string& run, const std::string& ending) {
        return s.derivatives + "/" + run.substr(0, 6) + "/func/" + run + ending;
    };
    const std::string bold = fileOf(kDamaged, "_desc-preproc_bold.nii.gz");
    const std::string boldBytes = hosttest::readFile(bold);
    const auto boldTime = fs::last_write_time(bold);
    hosttest::writeFile(bold, boldBytes.substr(0, boldBytes.size() / 2));
    const std::set<std::string> all(kRuns.begin(), kRuns.end());

    hosttest::Outcome first = snakemake("24P");
    EXPECT_NE(first.status, 0);
    EXPECT_EQ(participantJobs(first), all) << first.err;
    EXPECT_NE(hosttest::readFile(recordOf(out, kDamaged)).find("\"status\": \"failed\""), std::string::npos);

    // Nothing changed: the failed run is tried again, alone.
    hosttest::Outcome again = snakemake("24P");
    EXPECT_NE(again.status, 0);
    EXPECT_EQ(participantJobs(again), std::set<std::string>{kDamaged}) << again.err;

    // Mended with its old time, older than its record: tried again, and done.
    hosttest::writeFile(bold, boldBytes);
    fs::last_write_time(bold, boldTime);
    hosttest::Outcome mended = snakemake("24P");
    EXPECT_EQ(mended.status, 0) << mended.err;
    EXPECT_EQ(participantJobs(mended), std::set<std::string>{kDamaged}) << mended.err;
    EXPECT_NE(hosttest::readFile(recordOf(out, kDamaged)).find("\"status\": \"done\""), std::string::npos);

    hosttest::Outcome untouched = snakemake("24P");
    EXPECT_EQ(untouched.status, 0) << untouched.err;
    EXPECT_EQ(participantJobs(untouched), std::set<std::string>{}) << untouched.err;

    // A confound table's sidecar changed behind its old time; events saved anew;
    // an output of a third run lost.
    const std::string sidecar = fileOf(kRuns[2].substr(0, kRuns[2].find("_space-")), "_desc-confounds_timeseries.json");
    const auto sidecarTime = fs::last_write_time(sidecar);
    hosttest::writeFile(sidecar, hosttest::readFile(sidecar) + "\n");
    fs::last_write_time(sidecar, sidecarTime);
    const std::string events = s.raw + "/sub-01/func/sub-01_task-rest_run-1_events.tsv";
    hosttest::writeFile(events, hosttest::readFile(events));
    for (const auto& entry : fs::directory_iterator(out + "/sub-02/func")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kRuns[3], 0) == 0 && name.find("_stat-F_statmap") != std::string::npos) fs::remove(entry.path());
    }
    hosttest::Outcome changed = snakemake("24P");
    EXPECT_EQ(changed.status, 0) << changed.err;
    EXPECT_EQ(participantJobs(changed), (std::set<std::string>{kRuns[0], kRuns[2], kRuns[3]})) << changed.err;

    // Other models: every run (planned only).
    hosttest::Outcome models = snakemake("36P", {"-n"});
    EXPECT_EQ(models.status, 0) << models.err;
    EXPECT_EQ(participantJobs(models), all) << models.err;
}

// Chromium's console messages ("...:CONSOLE...") in its log, one a line.
std::string consoleMessages(const std::string& log) {
    std::string messages;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(":CONSOLE") != std::string::npos) messages += line + "\n";
    }
    return messages;
}

hosttest::Outcome chromium(const std::string& page, const std::string& action) {
    return hosttest::runProgram("/usr/bin/env",
                                {"chromium", "--headless", "--disable-gpu", "--no-sandbox", "--enable-logging=stderr",
                                 "--v=0", "--window-size=1400,2000", action, "file://" + page});
}

TEST(StudyReport, RendersInAHeadlessBrowserWithTheDecisionEveryRunAndEveryWarning) {
    if (!onPath("chromium")) GTEST_SKIP() << "chromium is not installed";
    // The check of the console sees a page's errors.
    TempDir probe;
    const std::string bad = probe.write("bad.html", "<html><body><script>undefinedCall();</script></body></html>");
    ASSERT_NE(consoleMessages(chromium(bad, "--dump-dom").err).find("undefinedCall"), std::string::npos);

    GeneratedStudy s(true, 36);
    const std::string out = s.dir.file("results");
    study(s, out, "participant");
    ASSERT_EQ(study(s, out, "group").status, 1);
    const std::string page = out + "/report.html";
    const hosttest::Outcome dom = chromium(page, "--dump-dom");
    ASSERT_EQ(dom.status, 0) << dom.err;
    EXPECT_EQ(consoleMessages(dom.err), "");
    // The decision counts the runs whose median tSNR gain in the group table is above 0.
    const hosttest::Outcome counted = hostio::runPython(
        "import sys, csv\nrows = list(csv.DictReader(open(sys.argv[1]), delimiter='\\t'))\n"
        "done = [r for r in rows if r['status'] == 'done']\n"
        "print(sum(float(r['median_delta_tsnr']) > 0 for r in done), len(done), len(rows) - len(done))\n",
        {out + "/group.tsv"});
    ASSERT_EQ(counted.status, 0) << counted.err;
    std::istringstream numbers(counted.out);
    int raised = -1, done = -1, without = -1;
    numbers >> raised >> done >> without;
    EXPECT_EQ(done, 3);
    EXPECT_EQ(without, 1);
    EXPECT_NE(dom.out.find("Model 2 (24P) raises the median tSNR over model 1 (6P) in " + std::to_string(raised) +
                           " of 3 runs; 1 run has no result."),
              std::string::npos)
        << raised;
    for (const std::string& run : kRuns) EXPECT_NE(dom.out.find("id=\"run-" + run + "\""), std::string::npos) << run;
    EXPECT_NE(dom.out.find("<b>" + std::string(kDamaged) + "</b> failed: "), std::string::npos);
    // Every warning of every summary is on the page.
    std::size_t warnings = 0;
    for (const std::string& run : kRuns) {
        const std::string summary = out + "/" + run.substr(0, 6) + "/func/" + run + "_model-6Pvs24P_summary.json";
        if (!fs::exists(summary)) continue;
        const hosttest::Outcome listed = hostio::runPython(
            "import sys, json\nfor w in json.load(open(sys.argv[1]))['warnings']: print(w)\n", {summary});
        std::istringstream lines(listed.out);
        for (std::string w; std::getline(lines, w); ++warnings) {
            std::string html;
            for (char c : w) {
                html += c == '&'   ? "&amp;"
                        : c == '"' ? "&quot;"
                        : c == '<' ? "&lt;"
                        : c == '>' ? "&gt;"
                                   : std::string(1, c);
            }
            EXPECT_NE(dom.out.find("<b>" + run + "</b>: " + html), std::string::npos) << w;
        }
    }
    // Nothing is loaded from elsewhere: every picture is inline.
    EXPECT_EQ(dom.out.find("src=\"http"), std::string::npos);
    EXPECT_EQ(dom.out.find("src=\"file"), std::string::npos);
    EXPECT_EQ(dom.out.find("<link"), std::string::npos);
    const std::string screenshot = STUDY_SCREENSHOT;
    fs::remove(screenshot);
    const hosttest::Outcome shot = chromium(page, "--screenshot=" + screenshot);
    ASSERT_EQ(shot.status, 0) << shot.err;
    EXPECT_EQ(consoleMessages(shot.err), "");
    EXPECT_GT(fs::file_size(screenshot), 10000u);
    EXPECT_EQ(warnings, 3u); // one for each run that was compared
}

} // namespace

namespace {

TEST(StudyCommand, RefusesMistakesBeforeAnythingRuns) {
    TempDir dir;
    const std::string program = hosttest::corvantisProgram();
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "study");
        return hosttest::runProgram(program, args);
    };
    fs::create_directories(dir.file("der/sub-01/anat"));
    const hosttest::Outcome level = run({dir.file("der"), dir.file("out"), "subject"});
    EXPECT_EQ(level.status, 2);
    EXPECT_EQ(level.err.rfind("Corvantis: the level is participant or group, not \"subject\"\n", 0), 0u) << level.err;
    const hosttest::Outcome same = run({dir.file("der"), dir.file("der"), "participant"});
    EXPECT_EQ(same.status, 2);
    EXPECT_NE(same.err.find("Corvantis: OUTPUT \"" + dir.file("der") + "\" is the derivatives folder \"" +
                            dir.file("der") + "\"; results go to a folder of their own\n"),
              std::string::npos)
        << same.err;
    const hosttest::Outcome empty = run({dir.file("der"), dir.file("out"), "participant"});
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, "Corvantis: error: no preprocessed runs in \"" + dir.file("der") +
                             "\": looked for sub-*/[ses-*/]func/*_desc-preproc_bold.nii.gz\n");
    EXPECT_FALSE(fs::exists(dir.file("out")));
    EXPECT_EQ(run({dir.file("der"), dir.file("out")}).status, 2);
}

// One line of --list-runs as the workflow reads it.
std::string listedRun(const GeneratedStudy& s, const std::string& run, const std::string& state, bool mask = true) {
    const std::string folder = "/" + run.substr(0, 6) + "/func/";
    const std::string table = s.derivatives + folder + run.substr(0, run.find("_space-")) + "_desc-confounds_timeseries";
    return run + "\t" + folder.substr(1) + run + "_model-6Pvs24P_record.json\t" + state + "\t" + s.derivatives + folder +
           run + "_desc-preproc_bold.nii.gz\t" + table + ".tsv\t" + table + ".json\t" + s.raw + folder +
           run.substr(0, run.find("_space-")) + "_events.tsv\t" +
           (mask ? s.derivatives + folder + run + "_desc-brain_mask.nii.gz" : "") + "\n";
}

TEST(StudyCommand, ListsTheRunsWithTheirRecordsStatesAndInputsAsTheWorkflowReadsThem) {
    GeneratedStudy s(false);
    const std::string out = s.dir.file("out");
    const auto list = [&](std::vector<std::string> extra) {
        extra.insert(extra.end(), {"--list-runs", "--run", "2"});
        const hosttest::Outcome listed = study(s, out, "participant", extra);
        EXPECT_EQ(listed.status, 0) << listed.err;
        return listed.out;
    };
    ASSERT_EQ(s.derivatives, fs::absolute(s.derivatives).lexically_normal().string());
    EXPECT_EQ(list({}), listedRun(s, kRuns[1], "none") + listedRun(s, kRuns[3], "none"));
    EXPECT_FALSE(fs::exists(out));

    ASSERT_EQ(study(s, out, "participant", {"--run-id", kRuns[1]}).status, 0);
    EXPECT_EQ(list({}), listedRun(s, kRuns[1], "current") + listedRun(s, kRuns[3], "none"));
    // Without the mask the record is not that of these inputs.
    EXPECT_EQ(list({"--no-mask"}), listedRun(s, kRuns[1], "outdated", false) + listedRun(s, kRuns[3], "none", false));
    // A changed confound table, and a failed run, both leave an outdated record.
    const std::string table = s.derivatives + "/sub-01/func/sub-01_task-rest_run-2_desc-confounds_timeseries.tsv";
    fs::last_write_time(table, fs::last_write_time(table) - std::chrono::seconds(10));
    hosttest::writeFile(s.derivatives + "/sub-02/func/" + kRuns[3] + "_desc-preproc_bold.nii.gz", "not a run");
    EXPECT_EQ(study(s, out, "participant", {"--run-id", kRuns[3]}).status, 1);
    EXPECT_EQ(list({}), listedRun(s, kRuns[1], "outdated") + listedRun(s, kRuns[3], "outdated"));
}

} // namespace

namespace {

TEST(StudyCommand, ModelsThatAreNotNestedGetNoFMapAndTheReportSaysSo) {
    GeneratedStudy s(false);
    const std::string out = s.dir.file("results");
    std::vector<std::string> args = {"study",  s.derivatives, out,      "participant", "--run-id",
                                     kRuns[0], "--model1",    "wm_csf", "--model2",    "6P"};
    const hosttest::Outcome participant = hosttest::runProgram(hosttest::corvantisProgram(), args);
    ASSERT_EQ(participant.status, 0) << participant.err;
    const std::string prefix =
        out + "/sub-01/func/" + kRuns[0] + "_model-" + corvantis::modelLabel("wm_csf", "6P") + "_";
    EXPECT_FALSE(fs::exists(prefix + "stat-F_statmap.nii.gz"));
    EXPECT_TRUE(fs::exists(prefix + "desc-model2minus1_stat-tsnr_statmap.nii.gz"));
    args[3] = "group";
    ASSERT_EQ(hosttest::runProgram(hosttest::corvantisProgram(), args).status, 0);
    const std::string table = hosttest::readFile(out + "/group.tsv");
    EXPECT_NE(table.find("\tdone\t80\t"), std::string::npos) << table;
    EXPECT_NE(table.find("\tfalse\tn/a\tn/a\tn/a\t"), std::string::npos) << table;
    const std::string report = hosttest::readFile(out + "/report.html");
    EXPECT_NE(report.find("<td>not nested</td>"), std::string::npos);
    EXPECT_NE(report.find("<b>" + kRuns[0] + "</b>: the models are not nested"), std::string::npos);
}

// A bold whose header gives no TR (0) is timed by its sidecar's RepetitionTime,
// as pipelines write it beside the run: its maps are those of the same run with
// the TR in its header. Without the sidecar the run fails, naming both files.
TEST(StudyCommand, ABoldWhoseHeaderGivesNoTrIsTimedByItsSidecar) {
    if (!hostio::nibabelMissing().empty()) GTEST_SKIP() << hostio::nibabelMissing();
    const GeneratedStudy intact(false);
    const GeneratedStudy zeroed(false);
    const std::string bold = zeroed.derivatives + "/sub-01/func/" + kRuns[0] + "_desc-preproc_bold.nii.gz";
    const hosttest::Outcome made = hostio::runPython(
        "import sys, nibabel\n"
        "image = nibabel.load(sys.argv[1])\n"
        "header = image.header.copy()\n"
        "header['pixdim'][4] = 0\n"
        "values = image.get_fdata(dtype='float32')\n"
        "nibabel.save(nibabel.Nifti1Image(values, image.affine, header), sys.argv[1])\n",
        {bold});
    ASSERT_EQ(made.status, 0) << made.err;
    const auto participant = [](const GeneratedStudy& s, const std::string& out) {
        return study(s, out, "participant", {"--run-id", kRuns[0]});
    };
    const std::string fMap = "/sub-01/func/" + kRuns[0] + "_model-6Pvs24P_stat-F_statmap.nii.gz";
    const hosttest::Outcome timed = participant(intact, intact.dir.file("out"));
    ASSERT_EQ(timed.status, 0) << timed.err;
    const hosttest::Outcome bySidecar = participant(zeroed, zeroed.dir.file("out"));
    ASSERT_EQ(bySidecar.status, 0) << bySidecar.err;
    ASSERT_TRUE(fs::exists(intact.dir.file("out") + fMap));
    EXPECT_TRUE(hosttest::readFile(zeroed.dir.file("out") + fMap) == hosttest::readFile(intact.dir.file("out") + fMap))
        << "the F map differs from the one with the TR in the header";

    const std::string sidecar = zeroed.derivatives + "/sub-01/func/" + kRuns[0] + "_desc-preproc_bold.json";
    fs::remove(sidecar);
    const hosttest::Outcome untimed = participant(zeroed, zeroed.dir.file("again"));
    EXPECT_EQ(untimed.status, 1);
    EXPECT_NE(untimed.err.find("the header of \"" + bold + "\" gives no TR (0: unknown) and no sidecar \"" + sidecar +
                               "\" gives a RepetitionTime"),
              std::string::npos)
        << untimed.err;
}

} // namespace

namespace {

// Renames every file of a run in its func folder: from's prefix becomes to's,
// and a space label "MNI" becomes space.
void renameRun(const std::string& func, const std::string& from, const std::string& to, const std::string& space) {
    for (const fs::directory_entry& entry : fs::directory_iterator(func)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(from + "_", 0) != 0) continue;
        name = to + name.substr(from.size());
        const std::size_t at = name.find("_space-MNI_");
        if (at != std::string::npos) name.replace(at, 11, "_space-" + space + "_");
        fs::rename(entry.path(), fs::path(func) / name);
    }
}

// A pipeline's ordinary long run name, one in Latin-1 and one holding a tab,
// in an output folder of 200 bytes: every run is compared, named printable,
// and the listing and the group table keep one row per run.
TEST(StudyCommand, RunsOfLongLatin1AndTabbedNamesAreComparedListedAndTabulated) {
    GeneratedStudy s(false);
    const std::string func1 = s.derivatives + "/sub-01/func", func2 = s.derivatives + "/sub-02/func";
    renameRun(func1, "sub-01_task-rest_run-1", "sub-01_ses-01_task-rest_acq-mb4_dir-PA_run-1",
              "MNI152NLin2009cAsym_res-2");
    // Its stem, twice in the comparison's own names, would outgrow a file name; the study's names hold it once.
    const std::string veryLong = "sub-01_task-rest_acq-" + std::string(100, 'x') + "_run-2";
    renameRun(func1, "sub-01_task-rest_run-2", veryLong, "MNI");
    renameRun(func2, "sub-02_task-rest_run-1", "sub-02_task-r\xe9st_run-1", "MNI");
    renameRun(func2, "sub-02_task-rest_run-2", "sub-02_task-re\tst_run-2", "MNI");
    std::string out = s.dir.file("results");
    while (out.size() < 200) out += "/results";
    out.resize(200);
    const std::string longRun = "sub-01_ses-01_task-rest_acq-mb4_dir-PA_run-1_space-MNI152NLin2009cAsym_res-2";
    const std::vector<std::string> ids = {longRun, veryLong + "_space-MNI", "sub-02_task-r\\xE9st_run-1_space-MNI",
                                          "sub-02_task-re\\x09st_run-2_space-MNI"};

    const hosttest::Outcome participant = study(s, out, "participant");
    ASSERT_EQ(participant.status, 0) << participant.err;
    for (const std::string& id : ids) {
        const std::string record = hosttest::readFile(recordOf(out, id));
        EXPECT_NE(record.find("\"status\": \"done\""), std::string::npos) << id << "\n" << record;
    }
    EXPECT_TRUE(fs::exists(out + "/sub-01/func/" + longRun + "_model-6Pvs24P_stat-F_statmap.nii.gz"));
    EXPECT_TRUE(
        fs::exists(out + "/sub-01/func/" + longRun + "_model-6Pvs24P_files/" + longRun + "_desc-preproc_bold_6P.sdm"));
    EXPECT_TRUE(fs::exists(out + "/sub-01/func/" + ids[1] + "_model-6Pvs24P_files/run_6P.sdm"));

    // The workflow's list: eight cells a line (name, record, its state, five inputs), each record where it is
    // listed, each run selectable by its listed name.
    const hosttest::Outcome listed = study(s, out, "participant", {"--list-runs"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::istringstream lines(listed.out);
    std::vector<std::string> listedIds;
    for (std::string line; std::getline(lines, line);) {
        ASSERT_EQ(std::count(line.begin(), line.end(), '\t'), 7) << line;
        listedIds.push_back(line.substr(0, line.find('\t')));
        const std::size_t recordStart = line.find('\t') + 1;
        EXPECT_TRUE(fs::exists(out + "/" + line.substr(recordStart, line.find('\t', recordStart) - recordStart)))
            << line;
    }
    std::vector<std::string> sortedIds = ids;
    std::sort(sortedIds.begin(), sortedIds.end());
    EXPECT_EQ(listedIds, sortedIds);
    const hosttest::Outcome one = study(s, out, "participant", {"--run-id", ids[3]});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_NE(one.err.find(ids[3] + ": outputs current, skipped"), std::string::npos) << one.err;

    const hosttest::Outcome group = study(s, out, "group");
    ASSERT_EQ(group.status, 0) << group.err;
    EXPECT_NE(group.out.find("in 4 of 4 runs."), std::string::npos) << group.out;
    std::istringstream table(hosttest::readFile(out + "/group.tsv"));
    std::string header;
    std::getline(table, header);
    int rows = 0;
    for (std::string row; std::getline(table, row); ++rows) {
        EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), std::count(header.begin(), header.end(), '\t')) << row;
    }
    EXPECT_EQ(rows, 4);
}

} // namespace

namespace {

std::string withoutLine(const std::string& text, const std::string& start) {
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(start, 0) != 0) kept += line + "\n";
    }
    return kept;
}

TEST(StudyJobs, TwoRunsAtOnceWriteWhatOneAtATimeWritesByteForByteWithSyncToo) {
    GeneratedStudy s(false);
    const std::string one = s.dir.file("one"), two = s.dir.file("two");
    const hosttest::Outcome serial = study(s, one, "participant", {"--jobs", "1"});
    ASSERT_EQ(serial.status, 0) << serial.err;
    const hosttest::Outcome parallel = study(s, two, "participant", {"--jobs", "2", "--sync"});
    ASSERT_EQ(parallel.status, 0) << parallel.err;
    for (const std::string& run : kRuns) {
        // One line per run, as it ends.
        const std::string line = "Corvantis: " + run + ": ";
        const std::size_t at = parallel.err.find(line);
        ASSERT_NE(at, std::string::npos) << parallel.err;
        EXPECT_EQ(parallel.err.find(line, at + 1), std::string::npos) << parallel.err;
        EXPECT_NE(parallel.err.find(" voxels analysed\n", at), std::string::npos) << parallel.err;
    }
    const auto expected = filesUnder(one), actual = filesUnder(two);
    EXPECT_GT(expected.size(), 30u);
    ASSERT_EQ(actual.size(), expected.size());
    for (const auto& [name, bytes] : expected) {
        ASSERT_EQ(actual.count(name), 1u) << name;
        EXPECT_TRUE(actual.at(name) == bytes) << name << " differs";
        // No cleaned run by default.
        EXPECT_EQ(name.find("_min_confounds_of_"), std::string::npos) << name;
    }
    // Run again, everything is current.
    const hosttest::Outcome again = study(s, two, "participant", {"--jobs", "2"});
    ASSERT_EQ(again.status, 0) << again.err;
    for (const std::string& run : kRuns) {
        EXPECT_NE(again.err.find("Corvantis: " + run + ": outputs current, skipped\n"), std::string::npos) << again.err;
    }
    const hosttest::Outcome noJobs = study(s, two, "participant", {"--jobs", "0"});
    EXPECT_EQ(noJobs.status, 2);
    EXPECT_EQ(noJobs.err.rfind("Corvantis: --jobs takes a whole number from 1 to 1024, not \"0\"\n", 0), 0u)
        << noJobs.err;
}

TEST(StudyJobs, AnOutputCutShortAfterTheStudyIsMadeAgainOnTheNextRun) {
    GeneratedStudy s(false);
    const std::string out = s.dir.file("results");
    ASSERT_EQ(study(s, out, "participant").status, 0);
    const std::string map = out + "/sub-02/func/" + kRuns[2] + "_model-6Pvs24P_stat-F_statmap.nii.gz";
    const std::string written = hosttest::readFile(map);
    // As a power loss can leave a file renamed into place before its blocks were written.
    hosttest::writeFile(map, written.substr(0, written.size() - 7));
    const hosttest::Outcome again = study(s, out, "participant");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("Corvantis: " + kRuns[2] + ": "), std::string::npos);
    EXPECT_EQ(again.err.find("Corvantis: " + kRuns[2] + ": outputs current, skipped"), std::string::npos) << again.err;
    for (const std::string& run : {kRuns[0], kRuns[1], kRuns[3]}) {
        EXPECT_NE(again.err.find("Corvantis: " + run + ": outputs current, skipped\n"), std::string::npos) << again.err;
    }
    EXPECT_TRUE(hosttest::readFile(map) == written);
}

TEST(StudyJobs, TheCleanedRunsKeptChangeNoMapSummaryNumberOrDecision) {
    GeneratedStudy s(false);
    const std::string none = s.dir.file("none"), both = s.dir.file("both");
    ASSERT_EQ(study(s, none, "participant").status, 0);
    ASSERT_EQ(study(s, both, "participant", {"--cleaned-runs", "both"}).status, 0);
    const hosttest::Outcome groupNone = study(s, none, "group"), groupBoth = study(s, both, "group");
    ASSERT_EQ(groupNone.status, 0) << groupNone.err;
    ASSERT_EQ(groupBoth.status, 0) << groupBoth.err;
    EXPECT_EQ(withoutLine(groupNone.out, "Wrote "), withoutLine(groupBoth.out, "Wrote "));
    const auto without = filesUnder(none), with = filesUnder(both);
    EXPECT_TRUE(without.at("group.tsv") == with.at("group.tsv"));
    std::size_t cleaned = 0, maps = 0;
    for (const auto& [name, bytes] : with) {
        if (name.find("_min_confounds_of_") != std::string::npos) {
            ++cleaned;
            EXPECT_EQ(without.count(name), 0u) << name;
        } else if (name.find("_statmap.nii.gz") != std::string::npos) {
            ++maps;
            ASSERT_EQ(without.count(name), 1u) << name;
            EXPECT_TRUE(without.at(name) == bytes) << name << " differs";
        } else if (name.find("_summary.json") != std::string::npos) {
            nlohmann::json a = nlohmann::json::parse(without.at(name)), b = nlohmann::json::parse(bytes);
            a.erase("outputs");
            b.erase("outputs");
            EXPECT_EQ(a, b) << name;
        }
    }
    EXPECT_EQ(cleaned, 2 * kRuns.size());
    EXPECT_EQ(maps, 8 * kRuns.size());
}

} // namespace
