// Host faults the plug-in must survive. Null and wrong-extent maps and a host
// without a service are covered by ComparisonRunTest and BoundaryTest; here:
// saves into a folder that cannot be written, and texts longer than the
// host's buffers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Scenario.h"

namespace {

using hosttest::fileExists;
using hosttest::filesIn;
using hosttest::readFile;
using itest::Scenario;

// What the host says after each start of the scenario's run.
const std::string kAnalysed =
    "Corvantis: 19 of 24 voxels analysed (time course above the threshold 100 in every volume)\n";

// root writes into any folder; without these two capabilities it is bound by
// the folder's mode like everyone else.
hosttest::Outcome runBoundByModes(const Scenario& s, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--fmr", s.fmr};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("start");
    if (geteuid() != 0) return hosttest::runProgram(hosttest::corvantisProgram(), args);
    args.insert(args.begin(), {"--inh-caps=-dac_override,-dac_read_search",
                               "--bounding-set=-dac_override,-dac_read_search", "--", hosttest::corvantisProgram()});
    return hosttest::runProgram("/usr/bin/setpriv", args);
}

class ReadOnlyFolder : public ::testing::Test {
protected:
    void SetUp() override {
        designs = s.dir.file("designs");
        std::filesystem::create_directory(designs);
        sdm1 = designs + "/model1.sdm";
        sdm2 = designs + "/model2.sdm";
        itest::writeDesign(sdm1, s.model1);
        itest::writeDesign(sdm2, s.model2);
    }
    void TearDown() override { chmod(designs.c_str(), 0755); }

    Scenario s;
    std::string designs, sdm1, sdm2;
};

TEST_F(ReadOnlyFolder, FailedMapSavesAreReportedLeaveNoFileAndKeepEarlierOutputs) {
    const std::vector<std::string> settings = {"--set", "sdmfile1=" + sdm1, "--set", "sdmfile2=" + sdm2,
                                               "--set", "residuals1=1"};
    // A first run in the writable folder leaves maps to be kept.
    ASSERT_EQ(runBoundByModes(s, settings).status, 0);
    const std::string earlierMap = readFile(designs + "/model1_tSNR_residuals.map");
    std::filesystem::remove(s.dir.file("run_min_confounds_of_model1.stc"));
    std::filesystem::remove(s.dir.file("run_min_confounds_of_model1.fmr"));
    const std::vector<std::string> before = filesIn(designs);
    ASSERT_EQ(chmod(designs.c_str(), 0555), 0);

    const hosttest::Outcome o = runBoundByModes(s, settings);
    std::string expected;
    for (const char* map :
         {"model1_tSNR_residuals.map", "model2_tSNR_residuals.map", "model2_tSNR_diff_model1.map", "model1_R2adj.map",
          "model2_R2adj.map", "model2_R2adj_diff_model1.map", "model2_Fval_diff_model1.map"}) {
        const std::string path = designs + "/" + map;
        expected +=
            "Corvantis: warning: cannot save \"" + path + "\": cannot create \"" + path + "\": Permission denied\n";
    }
    expected += kAnalysed;
    EXPECT_EQ(o.err, expected);
    // The host reports the failures; the plug-in goes on and ends normally.
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("Quorvex>  Saving Maps...\n"), std::string::npos) << o.out;
    // Nothing half-written under a final name, no temporary file, earlier maps intact.
    EXPECT_EQ(filesIn(designs), before);
    EXPECT_EQ(readFile(designs + "/model1_tSNR_residuals.map"), earlierMap);
    // What was saved before the maps, in a writable folder, stays.
    EXPECT_TRUE(fileExists(s.dir.file("run_min_confounds_of_model1.stc")));
    EXPECT_TRUE(fileExists(s.dir.file("run_min_confounds_of_model1.fmr")));
}

TEST_F(ReadOnlyFolder, AFailedResidualSaveIsReportedAndTheMapsAfterItAreSaved) {
    ASSERT_EQ(chmod(s.dir.path().c_str(), 0555), 0);
    const hosttest::Outcome o =
        runBoundByModes(s, {"--set", "sdmfile1=" + sdm1, "--set", "sdmfile2=" + sdm2, "--set", "residuals2=1"});
    chmod(s.dir.path().c_str(), 0700);
    const std::string stc = s.dir.file("run_min_confounds_of_model2.stc");
    EXPECT_EQ(o.err, "Corvantis: warning: cannot save \"" + s.dir.file("run_min_confounds_of_model2.fmr") +
                         "\": cannot create \"" + stc + "\": Permission denied\n" + kAnalysed);
    EXPECT_EQ(o.status, 0);
    EXPECT_FALSE(fileExists(stc));
    EXPECT_FALSE(fileExists(s.dir.file("run_min_confounds_of_model2.fmr")));
    EXPECT_TRUE(fileExists(designs + "/model2_Fval_diff_model1.map"));
}

// The plug-in reads its parameters through 512-byte buffers: a longer design
// path arrives cut to 511 bytes and fails to open, clearly.
TEST(LongTexts, ADesignPathOf600CharactersArrivesCutAndFailsToOpen) {
    Scenario s;
    std::string folder = s.dir.path();
    while (folder.size() < 530) {
        folder += "/" + std::string(59, 'd');
        std::filesystem::create_directory(folder);
    }
    const std::string path = folder + "/" + std::string(600 - folder.size() - 5, 'n') + ".sdm";
    ASSERT_EQ(path.size(), 600u);
    itest::writeDesign(path, s.model1);
    const hosttest::Outcome o = s.run({"--set", "sdmfile1=" + path});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Error: Failed opening for reading: " + path.substr(0, 511) + "\n");
}

} // namespace
