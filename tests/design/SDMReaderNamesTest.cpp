// Colour section and names line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SDMTestFiles.h"
#include "design/SDMReader.h"
#include "tests/support/TempDir.h"

namespace {

using testsupport::TempDir;

using Ints = std::vector<int32_t>;
using Names = std::vector<std::string>;

const std::string kHeader3 = "NrOfPredictors: 3 NrOfDataPoints: 1 FirstConfoundPredictor: 1\n";

class SDMColoursAndNames : public ::testing::Test {
protected:
    SDMFile read(const std::string& text) { return readSDMFile(dir.write("design.sdm", text)); }
    TempDir dir;
};

TEST_F(SDMColoursAndNames, TriplesOverSeveralLines) {
    const SDMFile r = read(kWellFormedSDM);
    EXPECT_EQ(r.colorRed, (Ints{255, 0, 0}));
    EXPECT_EQ(r.colorGreen, (Ints{0, 255, 0}));
    EXPECT_EQ(r.colorBlue, (Ints{0, 0, 255}));
    EXPECT_EQ(r.predictorNames, (Names{"Task", "Motion X", "Constant"}));
}

TEST_F(SDMColoursAndNames, AnyIntegerIsStoredUnchanged) {
    const SDMFile r = read(kHeader3 + "-5 70000 0\n1 2 3 -2147483648 2147483647 9\n\"a\"\n");
    EXPECT_EQ(r.colorRed, (Ints{-5, 1, -2147483648}));
    EXPECT_EQ(r.colorGreen, (Ints{70000, 2, 2147483647}));
    EXPECT_EQ(r.colorBlue, (Ints{0, 3, 9}));
}

TEST_F(SDMColoursAndNames, NoColourSectionStillFindsTheNames) {
    const SDMFile r = read(kHeader3 + "\"a\" \"b\" \"c\"\n1.0 2.0 3.0\n");
    EXPECT_EQ(r.colorRed, (Ints{0, 0, 0}));
    EXPECT_EQ(r.colorGreen, (Ints{0, 0, 0}));
    EXPECT_EQ(r.colorBlue, (Ints{0, 0, 0}));
    EXPECT_EQ(r.predictorNames, (Names{"a", "b", "c"}));
    EXPECT_EQ(r.predictorValues[1][0], 2.0f);
}

TEST_F(SDMColoursAndNames, ShortSectionLeavesZerosAndACutTripleKeepsWhatWasRead) {
    const SDMFile r = read(kHeader3 + "10 20 30\n40 50\n\"a\" \"b\" \"c\"\n");
    EXPECT_EQ(r.colorRed, (Ints{10, 40, 0}));
    EXPECT_EQ(r.colorGreen, (Ints{20, 50, 0}));
    EXPECT_EQ(r.colorBlue, (Ints{30, 0, 0}));
    EXPECT_EQ(r.predictorNames, (Names{"a", "b", "c"}));
}

TEST_F(SDMColoursAndNames, OneIntegerAfterTheLastTripleIsDroppedAndTheLineRestMayHoldNames) {
    const SDMFile sameLine = read(kHeader3 + "1 2 3 4 5 6 7 8 9 10 11 \"a\" \"b\" \"c\"\n1.0 2.0 3.0\n");
    EXPECT_EQ(sameLine.colorRed, (Ints{1, 4, 7}));
    EXPECT_EQ(sameLine.colorBlue, (Ints{3, 6, 9}));
    EXPECT_EQ(sameLine.predictorNames, (Names{"a", "b", "c"}));
    EXPECT_EQ(sameLine.predictorValues[2][0], 3.0f);

    const SDMFile nextLine = read(kHeader3 + "1 2 3 4 5 6 7 8 9 10 11\n\"a\" \"b\" \"c\"\n1.0 2.0 3.0\n");
    EXPECT_EQ(nextLine.predictorNames, (Names{"a", "b", "c"}));
    EXPECT_EQ(nextLine.predictorValues[2][0], 3.0f);
}

TEST_F(SDMColoursAndNames, OnlyOneLineIsTriedAfterAQuotelessRest) {
    const SDMFile r = read(kHeader3 + "1 2 3 4 5 6 7 8 9 10 11\n\nnames \"a\" \"b\" \"c\"\n1.0 2.0 3.0\n");
    EXPECT_EQ(r.predictorNames, (Names{"NoName", "NoName", "NoName"}));
    // The line with the quotes is then the first data row, with no points.
    EXPECT_EQ(r.predictorValues[0][0], 0.0f);
}

TEST_F(SDMColoursAndNames, FewerNamesAreFilledWithNoName) {
    EXPECT_EQ(read(kHeader3 + "\"Motion X\"\n").predictorNames, (Names{"Motion X", "NoName", "NoName"}));
    EXPECT_EQ(read(kHeader3 + "\"a\" \"unclosed\n").predictorNames, (Names{"a", "NoName", "NoName"}));
}

TEST_F(SDMColoursAndNames, ExtraNamesAreIgnoredAndEmptyQuotesGiveAnEmptyName) {
    EXPECT_EQ(read(kHeader3 + "\"\" \" blank held \" \"c\" \"d\" \"e\"\n").predictorNames,
              (Names{"", " blank held ", "c"}));
    EXPECT_EQ(read(kHeader3 + "\"a\"\"b\"x\"c\"\n").predictorNames, (Names{"a", "b", "c"}));
}

} // namespace
