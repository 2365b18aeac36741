#include <gtest/gtest.h>

#include <iomanip>
#include <memory>
#include <string>
#include <vector>

#include "plugin/CVTSLog.h"

namespace {

// The host's log pane: every text handed over, one entry per call.
std::vector<std::string> received;

bool recordText(const char* text) {
    received.emplace_back(text);
    return false; // the log ignores what the host answers
}

class CVTSLogTest : public ::testing::Test {
protected:
    void SetUp() override { received.clear(); }
    std::unique_ptr<CVTSLog> log = std::make_unique<CVTSLog>(&recordText);
};

TEST_F(CVTSLogTest, WritingWithoutFlushHandsNothingOver) {
    *log << "Quorvex"
         << ">  Running...";
    EXPECT_TRUE(received.empty());
}

TEST_F(CVTSLogTest, FlushHandsTheTextOverOnceAndASecondFlushAnEmptyText) {
    *log << "\n"
         << "Quorvex"
         << ">  Running..." << std::flush;
    ASSERT_EQ(received, std::vector<std::string>{"\nQuorvex>  Running..."});
    log->flush();
    EXPECT_EQ(received, (std::vector<std::string>{"\nQuorvex>  Running...", ""}));
    // The host answered false both times; a flush never fails for that.
    EXPECT_TRUE(log->good());
}

TEST_F(CVTSLogTest, EmbeddedNewlinesArriveInOnePiece) {
    *log << "first\nsecond\n\nthird" << std::flush;
    EXPECT_EQ(received, std::vector<std::string>{"first\nsecond\n\nthird"});
}

TEST_F(CVTSLogTest, EachFlushHandsOnlyWhatWasWrittenSinceTheLastOne) {
    *log << "a long first line" << std::flush;
    *log << "b" << std::flush;
    EXPECT_EQ(received, (std::vector<std::string>{"a long first line", "b"}));
}

TEST_F(CVTSLogTest, EndlAddsItsNewlineAndFlushes) {
    *log << "line" << std::endl;
    EXPECT_EQ(received, std::vector<std::string>{"line\n"});
}

TEST_F(CVTSLogTest, DestructionHandsPendingTextOverOnce) {
    *log << "pending";
    log.reset();
    EXPECT_EQ(received, std::vector<std::string>{"pending"});
}

TEST_F(CVTSLogTest, DestructionRightAfterAFlushHandsAnEmptyText) {
    *log << "\nQuorvex>  Plugin finished!\n" << std::flush;
    log.reset();
    EXPECT_EQ(received, (std::vector<std::string>{"\nQuorvex>  Plugin finished!\n", ""}));
}

TEST_F(CVTSLogTest, StartsWithDefaultFormattingAndNoAutomaticFlush) {
    EXPECT_FALSE(log->flags() & std::ios_base::unitbuf);
    EXPECT_EQ(log->fill(), ' ');
    *log << 255 << " " << 1.5f << " " << std::setw(4) << 7 << std::flush;
    EXPECT_EQ(received, std::vector<std::string>{"255 1.5    7"});
}

// A host without cvLogText: calling the null function would crash the test.
TEST(CVTSLogWithoutHost, NullLogFunctionIsNeverCalled) {
    auto log = std::make_unique<CVTSLog>(nullptr);
    *log << "dropped" << std::flush;
    EXPECT_TRUE(log->good());
    *log << "also dropped";
    log.reset();
}

} // namespace
