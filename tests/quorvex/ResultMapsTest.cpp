// The table of result maps: every map saved through the fake host, checked
// against the table and against the values written out below; the switch
// reading; and the help page and dialog script that must list every row.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FakeHost.h"
#include "plugin/PluginTexts.h"
#include "quorvex/ResultMaps.h"
#include "quorvex/ResultOutput.h"
#include "tests/support/FloatBits.h"

namespace {

using testsupport::bitsOf;

constexpr int32_t kN = 20;
const VolumeSize kDim{3, 2, 1};

// What each map of the test run must be, written out: the run's models are
// D:/study.v2/models/m1_drift.sdm (5 columns) and .../m2_motion.sdm (11
// columns) on 20 volumes; a df of 0 leaves the fake host's 32 and 36.
struct ExpectedMap {
    const char* switchName;
    const char* fileName;
    int32_t mapType;
    float lower;
    float upper;
    int32_t df1;
    int32_t df2;
    std::vector<float> values;
};

const std::vector<ExpectedMap>& expectedMaps() {
    static const std::vector<ExpectedMap> maps = {
        {"tSNR1", "D:/study.v2/models/m1_drift_tSNR_residuals.map", 0, 5.0f, 100.0f, 32, 36, {10, 11, 12, 13, 14, 15}},
        {"tSNR2",
         "D:/study.v2/models/m2_motion_tSNR_residuals.map",
         0,
         5.0f,
         100.0f,
         32,
         36,
         {12.5f, 14.5f, 16.5f, 18.5f, 20.5f, 22.5f}},
        {"tSNR3",
         "D:/study.v2/models/m2_motion_tSNR_diff_m1_drift.map",
         0,
         1.0f,
         20.0f,
         32,
         36,
         {2.5f, 3.5f, 4.5f, 5.5f, 6.5f, 7.5f}},
        {"R2adj1",
         "D:/study.v2/models/m1_drift_R2adj.map",
         0,
         0.1f,
         0.5f,
         32,
         36,
         {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 1.25f}},
        {"R2adj2",
         "D:/study.v2/models/m2_motion_R2adj.map",
         0,
         0.1f,
         0.5f,
         32,
         36,
         {0.75f, 0.625f, 0.5f, 0.375f, 0.25f, 0.125f}},
        {"R2adj3",
         "D:/study.v2/models/m2_motion_R2adj_diff_m1_drift.map",
         0,
         0.05f,
         0.5f,
         32,
         36,
         {0.75f, 0.375f, 0.0f, -0.375f, -0.75f, -1.125f}},
        {"Fmap",
         "D:/study.v2/models/m2_motion_Fval_diff_m1_drift.map",
         4,
         2.0f,
         4.5f,
         6,
         9,
         {1.5f, 9.0f, 3.25f, 9.0f, -2.0f, 0.0f}},
    };
    return maps;
}

SDMFile model(const std::string& fileName, int32_t columns) {
    SDMFile m;
    m.fileName = fileName;
    m.nrOfPredictors.value = columns;
    return m;
}

std::vector<SDMFile> testModels(int32_t p1 = 5, int32_t p2 = 11) {
    return {model("D:/study.v2/models/m1_drift.sdm", p1), model("D:/study.v2/models/m2_motion.sdm", p2)};
}

VoxelLoopResults testResults() {
    VoxelLoopResults r(kDim, kN);
    const float F[6] = {1.5f, 9.0f, 3.25f, 9.0f, -2.0f, 0.0f};
    for (int32_t l = 0; l < 6; ++l) {
        const float x = static_cast<float>(l);
        r.tSNR[0][l] = 10.0f + x;
        r.tSNR[1][l] = 12.5f + 2.0f * x;
        r.r2adj[0][l] = 0.25f * x;
        r.r2adj[1][l] = 0.75f - 0.125f * x;
        r.F[l] = F[l];
    }
    return r;
}

OutputSwitches allOn() {
    OutputSwitches s{};
    for (bool& on : s.map) on = true;
    return s;
}

// The volume a map saves, formed here from the results by its switch's name.
Volume volumeOf(const std::string& switchName, const VoxelLoopResults& r) {
    if (switchName == "tSNR1") return r.tSNR[0];
    if (switchName == "tSNR2") return r.tSNR[1];
    if (switchName == "tSNR3") return r.tSNR[1] - r.tSNR[0];
    if (switchName == "R2adj1") return r.r2adj[0];
    if (switchName == "R2adj2") return r.r2adj[1];
    if (switchName == "R2adj3") return r.r2adj[1] - r.r2adj[0];
    if (switchName == "Fmap") return r.F;
    ADD_FAILURE() << "no expected volume for " << switchName;
    return r.F;
}

class ResultMapsTest : public ::testing::Test {
protected:
    void SetUp() override { fakehost::installMapServices(kDim.x, kDim.y, kDim.z); }
    void TearDown() override { fakehost::uninstall(); }
};

} // namespace

TEST_F(ResultMapsTest, TheTableHoldsTheSevenMapsInSavingOrder) {
    ASSERT_EQ(kResultMapCount, static_cast<int>(expectedMaps().size()));
    for (int k = 0; k < kResultMapCount; ++k) {
        EXPECT_STREQ(kResultMaps[k].switchName, expectedMaps()[k].switchName) << "row " << k;
    }
    EXPECT_STREQ(kResidualSwitches[0], "residuals1");
    EXPECT_STREQ(kResidualSwitches[1], "residuals2");
}

TEST_F(ResultMapsTest, EveryRowEitherStoresOrFormsItsValues) {
    for (const ResultMap& row : kResultMaps) {
        EXPECT_NE(row.values.stored == nullptr, row.values.formed == nullptr) << row.switchName;
    }
    // The differences are formed at their save; the per-model volumes are saved as they stand.
    EXPECT_EQ(kResultMaps[2].values.stored, nullptr);
    EXPECT_EQ(kResultMaps[5].values.stored, nullptr);
    const VoxelLoopResults results = testResults();
    EXPECT_EQ(kResultMaps[0].values.stored(results), &results.tSNR[0]);
    EXPECT_EQ(kResultMaps[6].values.stored(results), &results.F);
}

TEST_F(ResultMapsTest, SavesEveryMapWithTheTablesHeaderAndName) {
    std::ostringstream log;
    const std::vector<SDMFile> models = testModels();
    const VoxelLoopResults results = testResults();
    saveRequestedMaps(&log, allOn(), models, results, kN);

    const fakehost::State& s = fakehost::state();
    ASSERT_EQ(s.allParameters.size(), static_cast<size_t>(kResultMapCount));
    ASSERT_EQ(s.allSavedValues.size(), static_cast<size_t>(kResultMapCount));
    ASSERT_EQ(s.calls.size(), static_cast<size_t>(4 * kResultMapCount));
    EXPECT_EQ(log.str(), std::string(cvts::pluginName()) + ">  Saving Maps...");
    for (int k = 0; k < kResultMapCount; ++k) {
        const ResultMap& row = kResultMaps[k];
        const ExpectedMap& want = expectedMaps()[k];
        const MapHeader& h = s.allParameters[k];
        const std::string saved = s.calls[4 * k + 3];
        SCOPED_TRACE(want.switchName);

        // Against the values written out above.
        EXPECT_EQ(saved, std::string("cvSaveMAPsOfCurrentFMR ") + want.fileName);
        EXPECT_EQ(h.MapType, want.mapType);
        EXPECT_EQ(bitsOf(h.LowerThreshold), bitsOf(want.lower));
        EXPECT_EQ(bitsOf(h.UpperThreshold), bitsOf(want.upper));
        EXPECT_EQ(h.field28, 0);
        EXPECT_EQ(h.DF1, want.df1);
        EXPECT_EQ(h.DF2, want.df2);
        ASSERT_EQ(s.allSavedValues[k].size(), want.values.size());
        for (size_t i = 0; i < want.values.size(); ++i) {
            EXPECT_EQ(bitsOf(s.allSavedValues[k][i]), bitsOf(want.values[i])) << "voxel " << i;
        }

        // Against the table's row.
        const Volume volume = volumeOf(want.switchName, results);
        const float upper =
            row.upperRule == UpperThreshold::fixed ? row.upperThreshold : row.upperThreshold * volume.max();
        EXPECT_EQ(saved, "cvSaveMAPsOfCurrentFMR " + mapFileName(row, models[0].fileName, models[1].fileName));
        EXPECT_EQ(h.MapType, row.mapType);
        EXPECT_EQ(bitsOf(h.LowerThreshold), bitsOf(row.lowerThreshold));
        EXPECT_EQ(bitsOf(h.UpperThreshold), bitsOf(upper));
        const bool fTest = row.degreesOfFreedom == DegreesOfFreedom::fTest;
        EXPECT_EQ(h.DF1, fTest ? 11 - 5 : 32);
        EXPECT_EQ(h.DF2, fTest ? kN - 11 : 36);
        for (int32_t i = 0; i < volume.count(); ++i) {
            EXPECT_EQ(bitsOf(s.allSavedValues[k][static_cast<size_t>(i)]), bitsOf(volume[i])) << "voxel " << i;
        }
    }
}

TEST_F(ResultMapsTest, EachSwitchAloneSavesOnlyItsMap) {
    const std::vector<SDMFile> models = testModels();
    const VoxelLoopResults results = testResults();
    for (int k = 0; k < kResultMapCount; ++k) {
        fakehost::installMapServices(kDim.x, kDim.y, kDim.z);
        OutputSwitches one{};
        one.map[k] = true;
        saveRequestedMaps(nullptr, one, models, results, kN);
        const std::vector<std::string> expected = {"cvCreateMAPForCurrentFMR", "cvGetMAPOfCurrentFMR",
                                                   "cvSetMAPParametersOfCurrentFMR",
                                                   std::string("cvSaveMAPsOfCurrentFMR ") + expectedMaps()[k].fileName};
        EXPECT_EQ(fakehost::state().calls, expected) << kResultMaps[k].switchName;
    }
}

TEST_F(ResultMapsTest, EqualColumnCountsLogTheFMapInsteadOfSavingIt) {
    std::ostringstream log;
    OutputSwitches onlyF{};
    onlyF.map[kResultMapCount - 1] = true;
    saveRequestedMaps(&log, onlyF, testModels(7, 7), testResults(), kN);
    EXPECT_TRUE(fakehost::state().calls.empty());
    const std::string name = cvts::pluginName();
    EXPECT_EQ(log.str(), name + ">  Saving Maps..." + name +
                             ">  Fmap could not be create because both SDMs have the same number of predictors");
}

TEST_F(ResultMapsTest, FDegreesOfFreedomAreTheCountsOfTheCodeNotOfTheDesignDocument) {
    const ResultMap& f = kResultMaps[kResultMapCount - 1];
    ASSERT_EQ(f.degreesOfFreedom, DegreesOfFreedom::fTest);
    const MapDegreesOfFreedom fewer = mapDegreesOfFreedom(f, 9, 4, 30); // model 2 smaller: |4 - 9|
    EXPECT_TRUE(fewer.exists);
    EXPECT_EQ(fewer.df1, 5);
    EXPECT_EQ(fewer.df2, 26);
    const MapDegreesOfFreedom tight = mapDegreesOfFreedom(f, 3, 12, 12); // n - p2 = 0
    EXPECT_EQ(tight.df1, 9);
    EXPECT_EQ(tight.df2, 0);
    EXPECT_EQ(mapDegreesOfFreedom(f, 3, 12, 10).df2, 0); // negative: 0 too
    EXPECT_FALSE(mapDegreesOfFreedom(f, 6, 6, 30).exists);
    const MapDegreesOfFreedom plain = mapDegreesOfFreedom(kResultMaps[0], 3, 12, 30);
    EXPECT_TRUE(plain.exists);
    EXPECT_EQ(plain.df1, 0);
    EXPECT_EQ(plain.df2, 0);

    // df2 = 0 leaves the host's DF2 in the saved header.
    OutputSwitches onlyF{};
    onlyF.map[kResultMapCount - 1] = true;
    saveRequestedMaps(nullptr, onlyF, testModels(5, 11), testResults(), 11);
    EXPECT_EQ(fakehost::state().lastParameters.DF1, 6);
    EXPECT_EQ(fakehost::state().lastParameters.DF2, 36);
}

TEST_F(ResultMapsTest, NamesWithoutExtensionsOrFolders) {
    const ResultMap& tSNR3 = kResultMaps[2];
    EXPECT_EQ(mapFileName(tSNR3, "m1", "m2.sdm"), "m2_tSNR_diff_m1.map");
    EXPECT_EQ(mapFileName(kResultMaps[0], "a.b/m1", "m2"),
              "a.b/m1_tSNR_residuals.map"); // a folder's "." is no extension
    EXPECT_EQ(mapFileName(kResultMaps[3], "C:\\x\\m1.sdm", "m2"), "C:\\x\\m1_R2adj.map");
}

TEST_F(ResultMapsTest, ReadsEverySwitchOnceInTableOrder) {
    fakehost::installIntParameterService();
    fakehost::State& s = fakehost::state();
    s.intParameters = {{"tSNR1", 1}, {"tSNR3", 7}, {"R2adj2", -1}, {"Fmap", 1}, {"residuals2", 1}};
    const OutputSwitches read = readOutputSwitches();
    const std::vector<std::string> expected = {
        "cvGetIntParameter tSNR1",  "cvGetIntParameter tSNR2",      "cvGetIntParameter tSNR3",
        "cvGetIntParameter R2adj1", "cvGetIntParameter R2adj2",     "cvGetIntParameter R2adj3",
        "cvGetIntParameter Fmap",   "cvGetIntParameter residuals1", "cvGetIntParameter residuals2"};
    EXPECT_EQ(s.calls, expected);
    const bool maps[7] = {true, false, true, false, true, false, true};
    ASSERT_EQ(kResultMapCount, 7);
    for (int k = 0; k < kResultMapCount; ++k) EXPECT_EQ(read.map[k], maps[k]) << kResultMaps[k].switchName;
    EXPECT_FALSE(read.residuals[0]);
    EXPECT_TRUE(read.residuals[1]);
}

// The help page and the dialog script, read from the source tree.
namespace {

std::string fileText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The shortest decimal that reads back as the same float: 5, 100, 0.1, 0.05.
std::string decimal(float value) {
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

// The help page's cells of one row of its outputs table.
std::string helpRow(const ResultMap& map) {
    std::string thresholds = decimal(map.lowerThreshold) + " – " + decimal(map.upperThreshold);
    if (map.upperRule == UpperThreshold::timesLargest) thresholds += " × the largest value";
    const std::string name = std::string("<i>") + (map.stem == NameStem::model1 ? "e" : "d") + "</i>" + map.infix +
                             (map.namesModel1 ? "<i>f</i>" : "") + ".map";
    return "<td>" + thresholds + "</td><td>" + name + "</td></tr>";
}

// The first cells of the rows of the table that follows the heading.
std::vector<std::string> firstCells(const std::string& page, const std::string& heading) {
    std::vector<std::string> cells;
    const size_t start = page.find(heading);
    const size_t end = page.find("</table>", start);
    for (size_t at = page.find("<tr><td>", start); at < end; at = page.find("<tr><td>", at + 1)) {
        const size_t from = at + 8;
        cells.push_back(page.substr(from, page.find("</td>", from) - from));
    }
    return cells;
}

} // namespace

TEST(ResultMapsHelpPage, ListsEveryMapWithItsThresholdsAndName) {
    const std::string page = fileText(QUORVEX_HELP_PAGE);
    ASSERT_FALSE(page.empty()) << QUORVEX_HELP_PAGE;
    std::vector<std::string> switches;
    for (const ResultMap& map : kResultMaps) {
        switches.push_back(map.switchName);
        const std::string start = std::string("<tr><td>") + map.switchName + "</td>";
        const size_t row = page.find(start);
        ASSERT_NE(row, std::string::npos) << map.switchName;
        const std::string line = page.substr(row, page.find('\n', row) - row);
        const std::string tail = helpRow(map);
        EXPECT_TRUE(line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
            << line << "\ndoes not end with\n"
            << tail;
    }
    // Exactly the table's maps, in its order.
    EXPECT_EQ(firstCells(page, "<h2>Outputs</h2>"), switches);
    // The literal rows, so that a change of the table shows here too.
    EXPECT_NE(page.find("<td>tSNR1</td><td>tSNR of model 1</td><td>5 – 100</td><td><i>e</i>_tSNR_residuals.map</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<td>R2adj3</td><td>adjusted R² of model 2 − model 1</td><td>0.05 – 0.5</td>"),
              std::string::npos);

    std::string listed;
    for (const ResultMap& map : kResultMaps) listed += (listed.empty() ? "" : ", ") + std::string(map.switchName);
    const std::vector<std::string> parameters = firstCells(page, "<h2>Parameters</h2>");
    EXPECT_NE(std::find(parameters.begin(), parameters.end(), listed), parameters.end()) << listed;
    const std::string residuals = std::string(kResidualSwitches[0]) + ", " + kResidualSwitches[1];
    EXPECT_NE(std::find(parameters.begin(), parameters.end(), residuals), parameters.end()) << residuals;
}

TEST(ResultMapsDialogScript, DeclaresEverySwitchOnce) {
    const std::string script = fileText(QUORVEX_DIALOG_SCRIPT);
    ASSERT_FALSE(script.empty()) << QUORVEX_DIALOG_SCRIPT;
    std::vector<std::string> switches;
    for (const ResultMap& map : kResultMaps) switches.push_back(map.switchName);
    for (const char* name : kResidualSwitches) switches.push_back(name);
    for (const std::string& name : switches) {
        const std::string quoted = "\"" + name + "\"";
        EXPECT_NE(script.find("    param(" + quoted + ", \""), std::string::npos) << name << " is not declared";
        // Named nowhere else: onStart takes the switches from the declarations.
        EXPECT_EQ(script.find(quoted), script.rfind(quoted)) << name << " is named twice";
    }
}
