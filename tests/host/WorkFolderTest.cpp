// The working folders of the host core: named by host and process, removed
// when they go, registered for removal on a signal while they live, and a
// stale one told from a live one (the signals themselves are sent to a real
// compare in tests/compare).
#include <gtest/gtest.h>

#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

#include "HostTestSupport.h"
#include "host/core/SignalCleanup.h"
#include "host/core/WorkFolder.h"
#include "host/formats/HostErrors.h"

namespace {

namespace fs = std::filesystem;
using hosttest::TempDir;

TEST(WorkFolder, IsNamedByHostAndProcessRegisteredWhileItLivesAndRemovedWithItsFiles) {
    const TempDir dir;
    const std::size_t before = corvantis::registeredFolderCount();
    fs::path made;
    {
        const corvantis::WorkFolder folder(dir.path(), ".work-");
        made = folder.path();
        const std::string prefix = ".work-" + corvantis::workFolderHostName() + "-" + std::to_string(getpid()) + "-";
        EXPECT_EQ(made.filename().string().rfind(prefix, 0), 0u) << made;
        EXPECT_GT(made.filename().string().size(), prefix.size());
        EXPECT_TRUE(fs::is_directory(made));
        EXPECT_EQ(corvantis::registeredFolderCount(), before + 1);
        hosttest::writeFile((made / "part.nii.gz").string(), "x");
        // Its own process is alive: a sweep keeps it.
        EXPECT_EQ(corvantis::removeStaleWorkFolders(dir.path(), ".work-"), 0u);
        EXPECT_TRUE(fs::exists(made / "part.nii.gz"));
    }
    EXPECT_FALSE(fs::exists(made));
    EXPECT_EQ(corvantis::registeredFolderCount(), before);
    // A parent that is not there is reported, and nothing stays registered.
    EXPECT_THROW(corvantis::WorkFolder(dir.file("no/such/parent"), ".work-"), corvantis::SaveError);
    EXPECT_EQ(corvantis::registeredFolderCount(), before);
}

TEST(WorkFolder, ASweepRemovesOnlyFoldersOfThisHostsEndedProcesses) {
    const TempDir dir;
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string host = corvantis::workFolderHostName(), dead = std::to_string(child);
    const std::vector<std::string> kept = {
        ".work-" + host + "-" + std::to_string(getpid()) + "-ab", // alive
        ".work-elsewhere-" + dead + "-ab",                        // another host
        ".work-" + host + "-" + dead,                             // no random part
        ".work-" + host + "-" + dead + "-XYZ",                    // not hex
        ".other-" + host + "-" + dead + "-ab",                    // another prefix
    };
    for (const std::string& name : kept) fs::create_directories(dir.file(name));
    fs::create_directories(dir.file(".work-" + host + "-" + dead + "-c0ffee/deep"));
    hosttest::writeFile(dir.file(".work-" + host + "-" + dead + "-ab"), "a file, not a folder");
    EXPECT_EQ(corvantis::removeStaleWorkFolders(dir.path(), ".work-"), 1u);
    EXPECT_FALSE(fs::exists(dir.file(".work-" + host + "-" + dead + "-c0ffee")));
    for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir.file(name))) << name;
    EXPECT_TRUE(fs::exists(dir.file(".work-" + host + "-" + dead + "-ab")));
}

} // namespace
