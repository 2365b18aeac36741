// Where a study writes, whatever links lead where: a subject folder of the
// derivatives that links elsewhere, a subject folder of OUTPUT that links into
// the inputs, and OUTPUT given as the raw dataset or inside the derivatives.
// Nothing may be written into a folder the study reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "FakeComparison.h"
#include "HostTestSupport.h"
#include "host/commands/CommandLine.h"
#include "host/commands/StudyCommand.h"
#include "host/research/StudyDataset.h"

namespace {

namespace fs = std::filesystem;
using hosttest::TempDir;

const char kRecord[] = "sub-01_task-rest_run-1_space-MNI_model-6Pvs24P_record.json";

// Every file under root with its bytes, links not followed: what a study must leave as it was.
std::map<std::string, std::string> contentOf(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = hosttest::readFile(entry.path());
    }
    return files;
}

// The names, for a message that does not print every byte.
std::string namesOf(const std::map<std::string, std::string>& files) {
    std::string names;
    for (const auto& [name, bytes] : files) names += name + "\n";
    return names;
}

#define EXPECT_UNCHANGED(root, before) \
    do { \
        const auto after = contentOf(root); \
        EXPECT_TRUE(after == (before)) << "now:\n" << namesOf(after) << "before:\n" << namesOf(before); \
    } while (false)

struct SmallStudy {
    TempDir dir;
    std::string derivatives, raw;
    SmallStudy() {
        corvantis::StudyDatasetShape shape;
        shape.subjects = 2;
        shape.runs = 1;
        shape.dimX = shape.dimY = 6;
        shape.dimZ = 3;
        shape.volumes = 40;
        const corvantis::StudyDatasetFiles files = corvantis::writeStudyDataset(dir.file("data"), shape);
        derivatives = files.derivatives;
        raw = files.rawdata;
    }
    // The study command with the stand-in comparison; the exit status as main gives it.
    hosttest::Outcome study(const std::string& output, const std::string& level = "participant") const {
        hosttest::Outcome outcome;
        testing::internal::CaptureStderr();
        try {
            outcome.status = corvantis::runStudyCommand(
                {derivatives, output, level, "--bids-dir", raw, "--model1", "6P", "--model2", "24P"},
                studytest::fakeComparison());
        } catch (const corvantis::UsageError& e) {
            outcome.status = 2;
            outcome.err = e.what();
        } catch (const std::exception& e) {
            outcome.status = 1;
            outcome.err = e.what();
        }
        outcome.out = testing::internal::GetCapturedStderr();
        return outcome;
    }
};

// derivatives/sub-01 links to a folder elsewhere: the outputs still go to
// OUTPUT/sub-01/func, not through the link's target into the linked inputs.
TEST(StudyPlacement, ASubjectFolderThatLinksElsewhereKeepsItsOutputsInOutput) {
    SmallStudy s;
    const fs::path store = s.dir.file("data/store");
    fs::create_directories(store);
    fs::rename(s.derivatives + "/sub-01", store / "sub-01");
    fs::create_directory_symlink(store / "sub-01", s.derivatives + "/sub-01");
    const auto inputs = contentOf(store);
    const std::string out = s.dir.file("data/results");
    const hosttest::Outcome o = s.study(out);
    ASSERT_EQ(o.status, 0) << o.err << o.out;
    EXPECT_TRUE(fs::exists(out + "/sub-01/func/" + kRecord));
    EXPECT_UNCHANGED(store, inputs);
}

// OUTPUT/sub-01 made beforehand as a link into the derivatives: refused, naming
// the folder and where it leads, before anything is written.
TEST(StudyPlacement, AnOutputSubjectFolderThatLinksIntoTheInputsIsRefused) {
    SmallStudy s;
    const std::string out = s.dir.file("data/results");
    fs::create_directories(out);
    fs::create_directory_symlink(s.derivatives + "/sub-01", out + "/sub-01");
    const auto derivatives = contentOf(s.derivatives);
    const hosttest::Outcome o = s.study(out);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "the outputs of sub-01_task-rest_run-1_space-MNI would go to \"" + out +
                         "/sub-01/func\", which leads to \"" + fs::canonical(s.derivatives).string() +
                         "/sub-01/func\", inside the derivatives folder \"" + s.derivatives +
                         "\"; remove the link or choose another OUTPUT");
    EXPECT_UNCHANGED(s.derivatives, derivatives);
    EXPECT_EQ(hosttest::filesIn(out), std::vector<std::string>{"sub-01"}) << "written before the refusal";

    // The same with the subject folder linked elsewhere, and OUTPUT's linked to that place.
    SmallStudy t;
    const fs::path store = t.dir.file("data/store");
    fs::create_directories(store);
    fs::rename(t.derivatives + "/sub-01", store / "sub-01");
    fs::create_directory_symlink(store / "sub-01", t.derivatives + "/sub-01");
    const std::string out2 = t.dir.file("data/results");
    fs::create_directories(out2);
    fs::create_directory_symlink(store / "sub-01", out2 + "/sub-01");
    const auto stored = contentOf(store);
    const hosttest::Outcome linked = t.study(out2);
    EXPECT_EQ(linked.status, 1);
    EXPECT_NE(linked.err.find(", inside the folder of the input \"" + t.derivatives + "/sub-01/func/"),
              std::string::npos)
        << linked.err;
    EXPECT_UNCHANGED(store, stored);
}

// OUTPUT as the raw dataset would replace its dataset_description.json.
TEST(StudyPlacement, OutputIsNeverTheRawDatasetNorInsideTheDerivatives) {
    SmallStudy s;
    const auto raw = contentOf(s.raw);
    const auto derivatives = contentOf(s.derivatives);
    const hosttest::Outcome same = s.study(s.raw);
    EXPECT_EQ(same.status, 2);
    EXPECT_EQ(same.err, "OUTPUT \"" + s.raw + "\" is the raw dataset (--bids-dir) \"" + s.raw +
                            "\"; results go to a folder of their own");
    const hosttest::Outcome group = s.study(s.raw, "group");
    EXPECT_EQ(group.status, 2);
    // Through a link to it, and inside it.
    const std::string link = s.dir.file("data/link");
    fs::create_directory_symlink(s.raw, link);
    EXPECT_EQ(s.study(link).status, 2);
    EXPECT_EQ(s.study(s.raw + "/sub-01/results").status, 2);
    const hosttest::Outcome inside = s.study(s.derivatives + "/results");
    EXPECT_EQ(inside.status, 2);
    EXPECT_EQ(inside.err, "OUTPUT \"" + s.derivatives + "/results\" lies inside the derivatives folder \"" +
                              s.derivatives + "\"; results go to a folder of their own");
    EXPECT_UNCHANGED(s.raw, raw);
    EXPECT_UNCHANGED(s.derivatives, derivatives);
    // The raw dataset's derivatives/ folder is where BIDS keeps derivatives.
    const std::string beside = s.raw + "/derivatives/corvantis";
    const hosttest::Outcome kept = s.study(beside);
    EXPECT_EQ(kept.status, 0) << kept.err << kept.out;
    EXPECT_TRUE(fs::exists(beside + "/sub-01/func/" + std::string(kRecord)));
}

} // namespace
