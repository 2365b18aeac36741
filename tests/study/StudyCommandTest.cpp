// The study command with the real comparison, as researchers run it: a study
// with one damaged run, a study killed after its first run and started again,
// the Snakemake workflow against the plain command byte for byte, and the
// report in a headless browser.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
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
    EXPECT_NE(same.err.find("is the derivatives folder; results go to a folder of their own"), std::string::npos);
    const hosttest::Outcome empty = run({dir.file("der"), dir.file("out"), "participant"});
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, "Corvantis: error: no preprocessed runs in \"" + dir.file("der") +
                             "\": looked for sub-*/[ses-*/]func/*_desc-preproc_bold.nii.gz\n");
    EXPECT_FALSE(fs::exists(dir.file("out")));
    EXPECT_EQ(run({dir.file("der"), dir.file("out")}).status, 2);
}

TEST(StudyCommand, ListsTheRunsWithTheirRecordsAsTheWorkflowReadsThem) {
    GeneratedStudy s(false);
    const hosttest::Outcome listed = study(s, s.dir.file("out"), "participant", {"--list-runs", "--run", "2"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out,
              "sub-01_task-rest_run-2_space-MNI\tsub-01/func/sub-01_task-rest_run-2_space-MNI_model-"
              "6Pvs24P_record.json\n"
              "sub-02_task-rest_run-2_space-MNI\tsub-02/func/sub-02_task-rest_run-2_space-MNI_model-"
              "6Pvs24P_record.json\n");
    EXPECT_FALSE(fs::exists(s.dir.file("out")));
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
