// Many "start" tasks in one Corvantis process: every run must see the data as
// loaded and give the same results, and the process must not grow with the
// number of runs (the asan preset's leak check covers what is lost at exit).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstring>
#include <string>
#include <vector>

#include "Scenario.h"
#include "tests/support/FloatBits.h"

extern char** environ;

namespace {

using itest::Scenario;
using testsupport::bitsOf;

std::vector<std::string> startTasks(int count) {
    return std::vector<std::string>(static_cast<std::size_t>(count), "start");
}

// The trace cut into one piece per task, each beginning where the task is read.
std::vector<std::string> tracePerTask(const std::string& trace) {
    const std::string marker = "cvGetStringParameter(\"task\")";
    std::vector<std::string> pieces;
    std::size_t at = trace.find(marker);
    while (at != std::string::npos) {
        const std::size_t next = trace.find(marker, at + 1);
        pieces.push_back(trace.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    return pieces;
}

// The peak resident size in KiB of one Corvantis run with its output discarded.
long peakKiB(const Scenario& s, int tasks) {
    std::vector<std::string> args = {
        hosttest::corvantisProgram(), "--fmr", s.fmr, "--set", "sdmfile1=" + s.sdm1, "--set", "sdmfile2=" + s.sdm2};
    const std::vector<std::string> more = startTasks(tasks);
    args.insert(args.end(), more.begin(), more.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

TEST(Soak, TwoHundredStartsInOneProcessGiveTheSameResultsEveryTime) {
    Scenario s;
    const std::string trace = s.dir.file("trace.txt");
    const hosttest::Outcome o = s.run({"--trace", trace}, startTasks(200));
    ASSERT_EQ(o.status, 0) << o.err;
    // The host's count of analysed voxels after each start, and nothing else.
    std::string expectedErr;
    for (int i = 0; i < 200; ++i) {
        expectedErr += "Corvantis: 19 of 24 voxels analysed (time course above the threshold 100 in every volume)\n";
    }
    EXPECT_EQ(o.err, expectedErr);

    std::string expectedLog = "\nQuorvex>  Running...\n";
    for (int i = 0; i < 200; ++i) {
        expectedLog +=
            "\nQuorvex>  Start comparing models\n"
            "\nQuorvex>  FMR size: 4 x 3 x 2 x 24\n"
            "Quorvex>  Start comparing models\n"
            "Quorvex>  Saving Maps...\n";
    }
    expectedLog += "\nQuorvex>  Plugin finished!\n\n\n";
    EXPECT_EQ(o.out, expectedLog);

    // Every task makes the same calls with the same arguments and results,
    // map thresholds (which follow the largest F) included.
    const std::vector<std::string> pieces = tracePerTask(hosttest::readFile(trace));
    ASSERT_EQ(pieces.size(), 200u);
    const std::string last = pieces.back().substr(0, pieces.back().find("cvLogText(\"\\nQuorvex>  Plugin finished!"));
    EXPECT_EQ(last, pieces.front());
    for (std::size_t i = 1; i + 1 < pieces.size(); ++i) ASSERT_EQ(pieces[i], pieces.front()) << "task " << i + 1;
    EXPECT_NE(pieces.front().find("cvSaveMAPsOfCurrentFMR"), std::string::npos);

    // And what the last one saved is what the reference computes on the data as loaded.
    const VoxelLoopResults r = s.expected(100.0f, false, false);
    const std::vector<float> f = itest::readMap(s.dir.file("model2_Fval_diff_model1.map")).values;
    ASSERT_EQ(f.size(), static_cast<std::size_t>(r.F.count()));
    for (int32_t i = 0; i < r.F.count(); ++i) EXPECT_EQ(bitsOf(f[static_cast<std::size_t>(i)]), bitsOf(r.F[i])) << i;
    const std::vector<float> t = itest::readMap(s.dir.file("model1_tSNR_residuals.map")).values;
    ASSERT_EQ(t.size(), static_cast<std::size_t>(r.tSNR[0].count()));
    for (int32_t i = 0; i < r.tSNR[0].count(); ++i)
        EXPECT_EQ(bitsOf(t[static_cast<std::size_t>(i)]), bitsOf(r.tSNR[0][i]));
}

// The host keeps every map it created (seven per task, 168 bytes of values and
// header each); anything the runs themselves kept would add far more.
#if defined(__SANITIZE_ADDRESS__)
#define QUORVEX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEX_ASAN 1
#endif
#endif

TEST(Soak, TheProcessDoesNotGrowWithTheNumberOfRuns) {
#ifdef QUORVEX_ASAN
    // The sanitizer's quarantine holds freed memory back, so the peak grows with
    // every allocation; its leak check at the host's exit stands in here.
    GTEST_SKIP() << "measured in builds without AddressSanitizer";
#endif
    Scenario s;
    const long few = peakKiB(s, 20);
    const long many = peakKiB(s, 200);
    ASSERT_GT(few, 0);
    ASSERT_GT(many, 0);
    EXPECT_LT(many - few, 1024) << "20 tasks: " << few << " KiB, 200 tasks: " << many << " KiB";
}

} // namespace
