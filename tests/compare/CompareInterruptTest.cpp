// compare and a study's run stopped by a signal half way, and started again:
// the hidden work folders (a run's worth of files) go with the signal, and a
// later run clears those a process killed outright left, on this host only and
// only when their process is gone. And runs read whatever their path or type: a
// NIfTI run in a folder whose name holds a line break, a scaled int16 run.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "HostTestSupport.h"
#include "host/research/StudyDataset.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using hosttest::Outcome;
using hosttest::TempDir;

const char kPython[] = "/usr/bin/python3";

std::string pythonMissing() {
    static const std::string missing = [] {
        const Outcome probe = hosttest::runProgram(kPython, {"-c", "import nibabel, numpy"});
        return probe.status == 0 ? std::string() : "python3 with nibabel and numpy is needed: " + probe.err;
    }();
    return missing;
}

#define SKIP_WITHOUT_PYTHON() \
    do { \
        if (!pythonMissing().empty()) GTEST_SKIP() << pythonMissing(); \
    } while (false)

// FOLDER/run.nii (float32, or int16 with scl_slope 0.25 and scl_inter 100 that
// hold the same values exactly) and FOLDER/confounds.tsv of the six motion
// columns: noise about 1000 plus the motion's share.
void writeRun(const std::string& folder, int nx, int ny, int nz, int volumes, const std::string& type = "float32") {
    const Outcome made = hosttest::runProgram(
        kPython, {"-c",
                  "import sys, numpy as np, nibabel as nib\n"
                  "folder, type_ = sys.argv[1], sys.argv[6]\n"
                  "nx, ny, nz, nt = (int(a) for a in sys.argv[2:6])\n"
                  "rng = np.random.default_rng(7)\n"
                  "t = np.arange(nt)\n"
                  "motion = np.stack([np.sin(0.05 * t * (c + 1) + c) + 0.1 * rng.standard_normal(nt)"
                  " for c in range(6)], axis=1)\n"
                  "data = 1000 + 50 * rng.standard_normal((nx, ny, nz, nt)) + motion @ rng.standard_normal(6)\n"
                  "stored = np.round((data - 100) / 0.25).astype(np.int16)\n"
                  "if type_ == 'int16':\n"
                  "    image = nib.Nifti1Image(stored, np.eye(4))\n"
                  "    image.header.set_slope_inter(0.25, 100)\n"
                  "else:\n"
                  "    image = nib.Nifti1Image((stored * 0.25 + 100).astype(np.float32), np.eye(4))\n"
                  "image.header.set_xyzt_units('mm', 'sec'); image.header['pixdim'][4] = 2\n"
                  "nib.save(image, folder + '/run.nii')\n"
                  "names = ['trans_x', 'trans_y', 'trans_z', 'rot_x', 'rot_y', 'rot_z']\n"
                  "with open(folder + '/confounds.tsv', 'w') as f:\n"
                  "    f.write('\\t'.join(names) + '\\n')\n"
                  "    for row in motion: f.write('\\t'.join('%.6f' % v for v in row) + '\\n')\n",
                  folder, std::to_string(nx), std::to_string(ny), std::to_string(nz), std::to_string(volumes), type});
    ASSERT_EQ(made.status, 0) << made.err;
}

std::vector<std::string> compareArgs(const std::string& folder, const std::string& out) {
    return {"compare",
            "--run",
            folder + "/run.nii",
            "--confounds",
            folder + "/confounds.tsv",
            "--model1",
            "trans_x",
            "--model2",
            "6P",
            "--out",
            out,
            "--threshold",
            "0",
            "--threads",
            "1"};
}

// A hidden work folder of compare (".compare-...") or of a study's run ("....partial").
bool isWorkFolder(const fs::path& path) {
    const std::string name = path.filename().string();
    return name.rfind(".compare-", 0) == 0 || (name.size() > 8 && name.compare(name.size() - 8, 8, ".partial") == 0);
}

bool holdsStagingFolder(const std::string& folder) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (isWorkFolder(it->path())) return true;
    }
    return false;
}

struct Stopped {
    bool caught = false; // the staging folder was there when the signal went
    int status = 0;
};

// Runs compare and sends signal as soon as its staging folder is there.
Stopped stopMidWay(const std::vector<std::string>& args, const std::string& out, int signal) {
    const std::string program = hosttest::corvantisProgram();
    std::vector<std::string> owned = args;
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (std::string& a : owned) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    Stopped stopped;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return stopped;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!holdsStagingFolder(out) && std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &stopped.status, WNOHANG) == child) return stopped; // ended before it was caught
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    stopped.caught = holdsStagingFolder(out);
    kill(child, signal);
    waitpid(child, &stopped.status, 0);
    return stopped;
}

// 48 x 48 x 24 voxels of 200 volumes, 44 MB of float32: a second or so of work
// in the staging folder, where the signal finds it.
TEST(CompareInterrupted, BySigtermOrSigintItLeavesNothingAndEndsByTheSignal) {
    SKIP_WITHOUT_PYTHON();
    const TempDir work;
    writeRun(work.path(), 48, 48, 24, 200);
    for (const int signal : {SIGTERM, SIGINT}) {
        const std::string out = work.file("out" + std::to_string(signal));
        const Stopped stopped = stopMidWay(compareArgs(work.path(), out), out, signal);
        ASSERT_TRUE(stopped.caught) << "compare ended before its staging folder was seen";
        EXPECT_TRUE((WIFSIGNALED(stopped.status) && WTERMSIG(stopped.status) == signal) ||
                    (WIFEXITED(stopped.status) && WEXITSTATUS(stopped.status) == 128 + signal))
            << "status " << stopped.status;
        EXPECT_EQ(hosttest::filesIn(out), std::vector<std::string>{}) << "signal " << signal;
    }
}

// A study's run stopped half way: its .partial work folder and the staging
// folder inside it go, and the run has no outputs and no record.
TEST(StudyInterrupted, BySigtermARunLeavesNoWorkFolder) {
    const TempDir work;
    corvantis::StudyDatasetShape shape;
    shape.subjects = 1;
    shape.runs = 1;
    shape.dimX = shape.dimY = 40;
    shape.dimZ = 20;
    shape.volumes = 120;
    const corvantis::StudyDatasetFiles files = corvantis::writeStudyDataset(work.file("data"), shape);
    const std::string out = work.file("results");
    const Stopped stopped =
        stopMidWay({"study", files.derivatives, out, "participant", "--no-mask", "--model1", "6P", "--model2", "24P"},
                   out, SIGTERM);
    ASSERT_TRUE(stopped.caught) << "the study ended before its run's work folder was seen";
    EXPECT_TRUE(WIFSIGNALED(stopped.status) && WTERMSIG(stopped.status) == SIGTERM) << "status " << stopped.status;
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (entry.is_regular_file() || isWorkFolder(entry.path())) left.push_back(entry.path().string());
    }
    // The dataset description is written before the first run; nothing of the run is.
    EXPECT_EQ(left, std::vector<std::string>{out + "/dataset_description.json"});
}

std::string thisHost() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// A pid that no process has now: a child that has ended.
pid_t endedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

// A comparison killed outright left its staging folder; the next one removes
// it, and keeps what may still be in use: its own host's live process's, another
// host's (on shared storage its pid says nothing here), and names of another form.
TEST(CompareInterrupted, ALaterRunRemovesTheStagingFoldersOfEndedProcessesOfThisHostOnly) {
    SKIP_WITHOUT_PYTHON();
    const TempDir work;
    writeRun(work.path(), 6, 6, 3, 40);
    const std::string out = work.file("out");
    const std::string dead = std::to_string(endedProcess());
    const std::string stale = ".compare-" + thisHost() + "-" + dead + "-5eed";
    const std::string live = ".compare-" + thisHost() + "-" + std::to_string(getpid()) + "-11fe";
    const std::string elsewhere = ".compare-other-node.example-" + dead + "-a11e";
    const std::string older = ".compare-1f2e3d4c";
    for (const std::string& name : {stale, live, elsewhere, older}) {
        fs::create_directories(out + "/" + name + "/inner");
        hosttest::writeFile(out + "/" + name + "/inner/run_min_confounds_of_run_6P.nii.gz", "left");
    }
    const Outcome ran = hosttest::runProgram(hosttest::corvantisProgram(), compareArgs(work.path(), out));
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_FALSE(fs::exists(out + "/" + stale));
    for (const std::string& kept : {live, elsewhere, older})
        EXPECT_TRUE(fs::exists(out + "/" + kept + "/inner")) << kept;
    EXPECT_TRUE(fs::exists(out + "/run_trans_x_vs_6P_summary.json"));
}

// The run's path went into the text of an .fmr, where a line break in a folder's
// name ended the entry: "line 12: expected Key: value". The content says NIfTI.
TEST(CompareRunPaths, ANiftiRunInAFolderWhoseNameHoldsALineBreakIsReadAsNifti) {
    SKIP_WITHOUT_PYTHON();
    const TempDir work;
    const std::string folder = work.file("two\nlines");
    fs::create_directories(folder);
    writeRun(folder, 6, 6, 3, 40);
    const std::string out = work.file("out");
    const Outcome ran = hosttest::runProgram(hosttest::corvantisProgram(), compareArgs(folder, out));
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(fs::exists(out + "/run_6P_Fval_diff_run_trans_x.nii.gz"));
    EXPECT_NE(hosttest::readFile(out + "/run_trans_x_vs_6P_summary.json").find("\"voxels_analysed\": 108"), std::string::npos);
}

// An int16 NIfTI run with scl_slope and scl_inter is read as the float32 values
// they give, so it compares exactly as the float32 run of those values does.
TEST(CompareRunTypes, AScaledInt16NiftiRunComparesAsTheFloat32RunOfItsValues) {
    SKIP_WITHOUT_PYTHON();
    const TempDir work;
    const std::string asInt = work.file("int16"), asFloat = work.file("float32");
    fs::create_directories(asInt);
    fs::create_directories(asFloat);
    writeRun(asInt, 8, 8, 4, 60, "int16");
    writeRun(asFloat, 8, 8, 4, 60, "float32");
    ASSERT_NE(hosttest::readFile(asInt + "/run.nii"), hosttest::readFile(asFloat + "/run.nii"));
    const Outcome a = hosttest::runProgram(hosttest::corvantisProgram(), compareArgs(asInt, asInt + "/out"));
    const Outcome b = hosttest::runProgram(hosttest::corvantisProgram(), compareArgs(asFloat, asFloat + "/out"));
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    const std::vector<std::string> files = hosttest::filesIn(asFloat + "/out");
    ASSERT_EQ(hosttest::filesIn(asInt + "/out"), files);
    for (const std::string& file : files) {
        if (file.find(".json") != std::string::npos) continue; // name their inputs
        EXPECT_EQ(hosttest::readFile(asInt + "/out/" + file), hosttest::readFile(asFloat + "/out/" + file)) << file;
    }
    // The help says so, and the refusal of an .fmr run of int16 values says what is taken.
    const Outcome help = hosttest::runProgram(hosttest::corvantisProgram(), {"compare", "--help"});
    EXPECT_NE(help.out.find("  --run RUN             the preprocessed run: a 4D NIfTI-1 image (.nii or\n"
                            "                        .nii.gz) of any real data type, int16 or float32 say,\n"
                            "                        its scl_slope and scl_inter applied, read as float32;\n"
                            "                        or an .fmr with its .stc of float32 values (DataType 2;\n"
                            "                        an .fmr of int16 values is refused)\n"),
              std::string::npos)
        << help.out;
    const std::string fmr = hosttest::writeRun(work.path(), "short", 2, 2, 1, 40, 1,
                                               hosttest::int16Bytes(std::vector<int16_t>(160, 500)), "TR: 2000\n");
    std::vector<std::string> args = compareArgs(asFloat, work.file("fmr-out"));
    args[2] = fmr;
    const Outcome refused = hosttest::runProgram(hosttest::corvantisProgram(), args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Corvantis: error: \"" + fmr +
                               "\" is an .fmr run of int16 values (DataType 1); compare takes .fmr runs of float32 "
                               "values (DataType 2) and NIfTI runs of any real type\n");
}

} // namespace
