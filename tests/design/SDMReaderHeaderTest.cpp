#include <gtest/gtest.h>

#include <string>

#include "SDMTestFiles.h"
#include "design/IOError.h"
#include "design/SDMReader.h"
#include "tests/support/TempDir.h"

namespace {

using testsupport::TempDir;

class SDMHeader : public ::testing::Test {
protected:
    SDMFile read(const std::string& text) { return readSDMFile(dir.write("design.sdm", text)); }

    // The IOError text a header yields; fails the test when none is thrown.
    std::string ioErrorOf(const std::string& text) {
        const std::string path = dir.write("bad.sdm", text);
        try {
            readSDMFile(path);
        } catch (const OpenFileError& e) {
            ADD_FAILURE() << "open error: " << e.what();
        } catch (const IOError& e) {
            return e.what();
        }
        ADD_FAILURE() << "no IOError";
        return "";
    }

    std::string badPath() const { return dir.file("bad.sdm"); }

    TempDir dir;
};

TEST_F(SDMHeader, WellFormedHeaderGivesKeysValuesAndColumns) {
    const SDMFile r = read(kWellFormedSDM);
    EXPECT_EQ(r.fileName, dir.file("design.sdm"));
    EXPECT_EQ(r.fileVersion.key, "FileVersion");
    EXPECT_EQ(r.fileVersion.value, 1);
    EXPECT_EQ(r.fileVersion.valueColumn, 20);
    EXPECT_TRUE(r.fileVersion.present);
    EXPECT_EQ(r.nrOfPredictors.key, "NrOfPredictors");
    EXPECT_EQ(r.nrOfPredictors.value, 3);
    EXPECT_EQ(r.nrOfPredictors.valueColumn, 20);
    EXPECT_EQ(r.nrOfDataPoints.key, "NrOfDataPoints");
    EXPECT_EQ(r.nrOfDataPoints.value, 4);
    EXPECT_EQ(r.includesConstant.key, "IncludesConstant");
    EXPECT_TRUE(r.includesConstant.value);
    EXPECT_EQ(r.includesConstant.valueColumn, 20);
    EXPECT_EQ(r.firstConfoundPredictor.key, "FirstConfoundPredictor");
    EXPECT_EQ(r.firstConfoundPredictor.value, 2);
    EXPECT_EQ(r.firstConfoundPredictor.valueColumn, 26);
    EXPECT_TRUE(r.firstConfoundPredictor.present);
}

TEST_F(SDMHeader, OrderJunkTokensAndLineBreaksCarryNoMeaning) {
    const SDMFile r = read(
        "comment words NrOfDataPoints:\t\t4 more\n"
        "FileVersion: 7 IncludesConstant:\n"
        "0\n"
        "NrOfPredictors: \t 3\n"
        "FirstConfoundPredictor:\n"
        "\n"
        "   2\n"
        "1 2 3 4 5 6 7 8 9\n"
        "\"a\" \"b\" \"c\"\n"
        "1.0 2.0 3.0\n");
    EXPECT_EQ(r.nrOfDataPoints.value, 4);
    EXPECT_EQ(r.nrOfDataPoints.valueColumn, 17); // two tabs
    EXPECT_EQ(r.fileVersion.value, 7);
    EXPECT_EQ(r.fileVersion.valueColumn, 13);
    EXPECT_FALSE(r.includesConstant.value);
    EXPECT_TRUE(r.includesConstant.present);
    EXPECT_EQ(r.includesConstant.valueColumn, 17); // value on the next line
    EXPECT_EQ(r.nrOfPredictors.value, 3);
    EXPECT_EQ(r.nrOfPredictors.valueColumn, 18); // blank, tab, blank
    EXPECT_EQ(r.firstConfoundPredictor.value, 2);
    EXPECT_EQ(r.firstConfoundPredictor.valueColumn, 23);
    EXPECT_EQ(r.colorBlue, (std::vector<int32_t>{3, 6, 9}));
    EXPECT_EQ(r.predictorValues[2][0], 3.0f);
}

TEST_F(SDMHeader, AbsentKeysKeepTheirDefaults) {
    const SDMFile r = read("FirstConfoundPredictor: 1\n");
    EXPECT_EQ(r.fileVersion.value, -1);
    EXPECT_FALSE(r.fileVersion.present);
    EXPECT_EQ(r.nrOfPredictors.value, 0);
    EXPECT_FALSE(r.nrOfPredictors.present);
    EXPECT_EQ(r.nrOfDataPoints.value, 0);
    EXPECT_FALSE(r.includesConstant.value);
    EXPECT_FALSE(r.includesConstant.present);
    EXPECT_TRUE(r.predictorValues.empty());
    EXPECT_TRUE(r.predictorNames.empty());
}

TEST_F(SDMHeader, GluedKeyIsSkippedAndTheLastValueCounts) {
    const SDMFile r = read("NrOfPredictors:2 NrOfDataPoints: 1 NrOfDataPoints: 3 FirstConfoundPredictor: 1\n");
    EXPECT_FALSE(r.nrOfPredictors.present);
    EXPECT_EQ(r.nrOfPredictors.value, 0);
    EXPECT_EQ(r.nrOfDataPoints.value, 3);
}

TEST_F(SDMHeader, KeysAfterFirstConfoundPredictorAreNotRead) {
    const SDMFile r = read(
        "NrOfPredictors: 1 NrOfDataPoints: 1 FirstConfoundPredictor: 1\n"
        "NrOfPredictors: 5\n"
        "\"x\"\n"
        "4.5\n");
    EXPECT_EQ(r.nrOfPredictors.value, 1);
    EXPECT_EQ(r.predictorNames, (std::vector<std::string>{"x"}));
    EXPECT_EQ(r.predictorValues[0][0], 4.5f);
}

TEST_F(SDMHeader, AHeaderWithoutFirstConfoundPredictorFailsNamingTheFile) {
    const std::string expected = badPath() + ": the header ends before \"FirstConfoundPredictor:\" and its value";
    EXPECT_EQ(ioErrorOf("NrOfPredictors: 2\nNrOfDataPoints: 3\n"), expected);
    EXPECT_EQ(ioErrorOf(""), expected);
    EXPECT_EQ(ioErrorOf("FirstConfoundPredictor:2\n"), expected);
}

TEST_F(SDMHeader, ValuesThatAreNotIntegersFailNamingFileAndKey) {
    EXPECT_EQ(ioErrorOf("NrOfPredictors: three FirstConfoundPredictor: 1"),
              badPath() + ": the value of \"NrOfPredictors:\" is not a 32-bit integer");
    EXPECT_EQ(ioErrorOf("NrOfDataPoints: 2147483648 FirstConfoundPredictor: 1"),
              badPath() + ": the value of \"NrOfDataPoints:\" is not a 32-bit integer");
    EXPECT_EQ(ioErrorOf("FirstConfoundPredictor: \n\n"), badPath() + ": \"FirstConfoundPredictor:\" has no value");
}

TEST_F(SDMHeader, IncludesConstantIsZeroOrOne) {
    EXPECT_TRUE(read("IncludesConstant: 1 FirstConfoundPredictor: 1").includesConstant.value);
    EXPECT_FALSE(read("IncludesConstant: 0 FirstConfoundPredictor: 1").includesConstant.value);
    EXPECT_EQ(ioErrorOf("IncludesConstant: 2 FirstConfoundPredictor: 1"),
              badPath() + ": the value of \"IncludesConstant:\" is not 0 or 1");
    EXPECT_EQ(ioErrorOf("IncludesConstant: true FirstConfoundPredictor: 1"),
              badPath() + ": the value of \"IncludesConstant:\" is not 0 or 1");
}

TEST_F(SDMHeader, NegativeCountsFailNamingTheFile) {
    EXPECT_EQ(ioErrorOf("NrOfPredictors: -1 NrOfDataPoints: 3 FirstConfoundPredictor: 1"),
              badPath() + ": \"NrOfPredictors:\" is negative (-1)");
    EXPECT_EQ(ioErrorOf("NrOfPredictors: 2 NrOfDataPoints: -7 FirstConfoundPredictor: 1"),
              badPath() + ": \"NrOfDataPoints:\" is negative (-7)");
}

TEST_F(SDMHeader, CountsNoDesignHasFailBeforeAnythingIsAllocated) {
    EXPECT_EQ(ioErrorOf("NrOfPredictors: 1000001 FirstConfoundPredictor: 1"),
              badPath() +
                  ": \"NrOfPredictors:\" is 1000001, more than the 1000000 predictors "
                  "a design can have");
    // One column more than the file has: the constant the model may add.
    EXPECT_EQ(ioErrorOf("NrOfPredictors: 1 NrOfDataPoints: 1073741824 FirstConfoundPredictor: 1"),
              badPath() +
                  ": 1 predictors of 1073741824 data points are more than the "
                  "2147483647 values a design matrix can hold");
    EXPECT_EQ(ioErrorOf("NrOfPredictors: 1000000 NrOfDataPoints: 2148 FirstConfoundPredictor: 1"),
              badPath() +
                  ": 1000000 predictors of 2148 data points are more than the "
                  "2147483647 values a design matrix can hold");
}

TEST_F(SDMHeader, ManyDataPointsWithoutPredictorsAllocateNothing) {
    const SDMFile r = read("NrOfDataPoints: 2147483647 FirstConfoundPredictor: 1\n");
    EXPECT_EQ(r.nrOfDataPoints.value, 2147483647);
    EXPECT_TRUE(r.predictorValues.empty());
}

TEST(SDMOpen, AMissingFileFailsWithThePathAsPassed) {
    TempDir dir;
    const std::string path = dir.file("no such folder/../missing.sdm");
    try {
        readSDMFile(path);
        FAIL() << "no error";
    } catch (const OpenFileError& e) {
        EXPECT_STREQ(e.what(), ("Failed opening for reading: " + path).c_str());
    }
    EXPECT_THROW(readSDMFile(dir.file("missing.sdm")), IOError);
}

TEST(SDMOpen, AFolderCannotBeOpenedForReading) {
    TempDir dir;
    const std::string path = dir.file("");
    try {
        readSDMFile(path);
        FAIL() << "no error";
    } catch (const OpenFileError& e) {
        EXPECT_STREQ(e.what(), ("Failed opening for reading: " + path).c_str());
    }
}

} // namespace
