// Hostile design files and runs, each with its exact outcome: a record or the
// error text a user sees, never a crash, a hang or a huge allocation.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "HostTestSupport.h"
#include "design/IOError.h"
#include "design/SDMReader.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/HostErrors.h"

namespace {

using hosttest::TempDir;

std::string replaced(std::string text, const std::string& placeholder, const std::string& by) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + by.size())) {
        text.replace(at, placeholder.size(), by);
    }
    return text;
}

std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

// The shape of a record and its first rows, e.g. "2 x 3: [1 2] [0 0] [3 inf]".
std::string describe(const SDMFile& record) {
    std::string text =
        std::to_string(record.nrOfPredictors.value) + " x " + std::to_string(record.nrOfDataPoints.value) + ":";
    const std::size_t points = record.predictorValues.empty() ? 0 : record.predictorValues[0].size();
    for (std::size_t t = 0; t < points && t < 4; ++t) {
        text += " [";
        for (std::size_t j = 0; j < record.predictorValues.size(); ++j) {
            text += (j ? " " : "") + number(record.predictorValues[j][t]);
        }
        text += "]";
    }
    return text;
}

std::string sdmOutcome(const std::string& path) {
    try {
        return describe(readSDMFile(path));
    } catch (const OpenFileError& e) {
        return std::string("OpenFileError: ") + e.what();
    } catch (const IOError& e) {
        return std::string("IOError: ") + e.what();
    } catch (const std::invalid_argument& e) {
        return std::string("invalid_argument: ") + e.what();
    } catch (const std::out_of_range& e) {
        return std::string("out_of_range: ") + e.what();
    }
}

std::string fmrOutcome(const std::string& path) {
    try {
        const corvantis::FmrDocument document = corvantis::FmrDocument::open(path);
        const corvantis::RunLayout& l = document.layout();
        return "opened " + std::to_string(l.dimX) + " x " + std::to_string(l.dimY) + " x " + std::to_string(l.dimZ) +
               " x " + std::to_string(l.nrOfVolumes);
    } catch (const corvantis::DocumentError& e) {
        return std::string("DocumentError: ") + e.what();
    }
}

// Deterministic bytes of every value, with no whitespace-free run long enough
// to spell a key.
std::string garbage(std::size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

const std::string kHeader = "NrOfPredictors: 2\nNrOfDataPoints: 1\nFirstConfoundPredictor: 2\n\"a\" \"b\"\n";
const std::string kNoKey = "{path}: the header ends before \"FirstConfoundPredictor:\" and its value";

std::string counts(const std::string& predictors, const std::string& points) {
    return "NrOfPredictors: " + predictors + "\nNrOfDataPoints: " + points + "\nFirstConfoundPredictor: 1\n";
}

struct HostileDesign {
    const char* name;
    std::function<std::string()> bytes;
    std::string outcome; // "{path}" stands for the file's path
};

const std::vector<HostileDesign>& hostileDesigns() {
    static const std::vector<HostileDesign> table = {
        {"empty file", [] { return std::string(); }, "IOError: " + kNoKey},
        {"binary garbage", [] { return garbage(4096); }, "IOError: " + kNoKey},
        {"NUL bytes only", [] { return std::string(4096, '\0'); }, "IOError: " + kNoKey},
        {"NUL bytes in names and rows",
         [] {
             const char text[] =
                 "NrOfPredictors: 1 NrOfDataPoints: 2 FirstConfoundPredictor: 1\n\"a\0b\"\n1.5\0 9\n\0\n";
             return std::string(text, sizeof text - 1);
         },
         "1 x 2: [1.5] [0]"},
        {"10 MB single line", [] { return std::string(10 << 20, 'x'); }, "IOError: " + kNoKey},
        {"10 MB data row of many points",
         [] {
             std::string row;
             while (row.size() < (10u << 20)) row += "1.0 ";
             return kHeader + row + "\n";
         },
         "2 x 1: [0 0]"},
        {"10 MB value", [] { return kHeader + "1.0 " + std::string(10 << 20, '7') + ".5\n"; },
         "out_of_range: stof argument out of range"},
        {"header never reaches the key",
         [] { return std::string("FileVersion: 1\nNrOfPredictors: 2\nNrOfDataPoints: 3\n"); }, "IOError: " + kNoKey},
        {"predictors -1", [] { return counts("-1", "3"); }, "IOError: {path}: \"NrOfPredictors:\" is negative (-1)"},
        {"data points -1", [] { return counts("2", "-1"); }, "IOError: {path}: \"NrOfDataPoints:\" is negative (-1)"},
        {"predictors 0", [] { return counts("0", "3"); }, "0 x 3:"},
        {"data points 0", [] { return counts("2", "0") + "\"a\" \"b\"\n1.0 2.0\n"; }, "2 x 0:"},
        {"predictors 2^31-1", [] { return counts("2147483647", "1"); },
         "IOError: {path}: \"NrOfPredictors:\" is 2147483647, more than the 1000000 predictors a design can have"},
        {"data points 2^31-1", [] { return counts("1", "2147483647"); },
         "IOError: {path}: 1 predictors of 2147483647 data points are more than the 2147483647 values a design "
         "matrix can hold"},
        {"data points 2^31-1 without predictors", [] { return counts("0", "2147483647"); }, "0 x 2147483647:"},
        {"predictors 10^9", [] { return counts("1000000000", "1"); },
         "IOError: {path}: \"NrOfPredictors:\" is 1000000000, more than the 1000000 predictors a design can have"},
        {"data points 10^9", [] { return counts("1", "1000000000"); },
         "IOError: {path}: 1 predictors of 1000000000 data points are more than the 67108864 values the reader "
         "keeps"},
        {"count 2^31", [] { return counts("2147483648", "1"); },
         "IOError: {path}: the value of \"NrOfPredictors:\" is not a 32-bit integer"},
        {"value nan without a point", [] { return kHeader + "1.000000 nan\n"; }, "2 x 1: [0 0]"},
        {"value nan with a point", [] { return kHeader + "1.000000 nan.\n"; }, "2 x 1: [1 nan]"},
        {"value inf without a point", [] { return kHeader + "1.000000 inf\n"; }, "2 x 1: [0 0]"},
        {"value -inf with a point", [] { return kHeader + "1.000000 -inf.\n"; }, "2 x 1: [1 -inf]"},
        {"value 1e39 without a point", [] { return kHeader + "1.000000 1e39\n"; }, "2 x 1: [0 0]"},
        {"value 1.0e39", [] { return kHeader + "1.000000 1.0e39\n"; }, "2 x 1: [1 inf]"},
        {"value 1.e400", [] { return kHeader + "1.000000 1.e400\n"; }, "out_of_range: stof argument out of range"},
        {"value 1.e-400", [] { return kHeader + "1.000000 1.e-400\n"; }, "out_of_range: stof argument out of range"},
        {"value 0x1.8p1", [] { return kHeader + "1.000000 0x1.8p1\n"; }, "2 x 1: [1 3]"},
        {"value that is no number", [] { return kHeader + "1.000000 x.5\n"; },
         "invalid_argument: invalid stof argument"},
        {"truncated last row keeping its points",
         [] { return counts("2", "2") + "\"a\" \"b\"\n1.000000 2.000000\n3.000000 4.0"; }, "2 x 2: [1 2] [3 4]"},
        {"truncated last row losing a point", [] { return counts("2", "2") + "\"a\" \"b\"\n1.000000 2.000000\n3.00"; },
         "2 x 2: [1 2] [0 0]"},
        {"rows missing at the end", [] { return counts("2", "3") + "\"a\" \"b\"\n1.0 2.0\n"; },
         "2 x 3: [1 2] [0 0] [0 0]"},
    };
    return table;
}

TEST(HostileDesignFiles, EachEndsInItsExactOutcome) {
    TempDir dir;
    for (const HostileDesign& entry : hostileDesigns()) {
        const std::string path = dir.file("hostile.sdm");
        hosttest::writeFile(path, entry.bytes());
        EXPECT_EQ(sdmOutcome(path), replaced(entry.outcome, "{path}", path)) << entry.name;
    }
}

// Without the regular-file check the header loop read /dev/zero for ever,
// growing one token without bound.
TEST(HostileDesignFiles, ADeviceIsNotOpenedForReading) {
    EXPECT_EQ(sdmOutcome("/dev/zero"), "OpenFileError: Failed opening for reading: /dev/zero");
    EXPECT_EQ(sdmOutcome("/dev/null"), "OpenFileError: Failed opening for reading: /dev/null");
}

// 600 characters in folders of 60: the path is long, not invalid.
std::string longFolder(const std::string& root, std::size_t length) {
    std::string folder = root;
    while (folder.size() + 70 < length) {
        folder += "/" + std::string(59, 'd');
        std::filesystem::create_directory(folder);
    }
    return folder;
}

TEST(HostileDesignFiles, APathOf600CharactersReadsLikeAnyOther) {
    TempDir dir;
    const std::string folder = longFolder(dir.path(), 600);
    std::string path = folder + "/" + std::string(600 - folder.size() - 5, 'n') + ".sdm";
    ASSERT_EQ(path.size(), 600u);
    hosttest::writeFile(path, counts("1", "1") + "\"a\"\n2.5\n");
    EXPECT_EQ(sdmOutcome(path), "1 x 1: [2.5]");
}

struct HostileRun {
    const char* name;
    std::string fmr; // "{stc}" names the time-course file
    std::string stc;
    std::string outcome; // "{fmr}" and "{stc}" stand for the two paths
};

std::string runText(const std::string& volumes, const std::string& x, const std::string& y, const std::string& z) {
    return "NrOfVolumes: " + volumes + "\nDimX: " + x + "\nDimY: " + y + "\nDimZ: " + z +
           "\nDataType: 2\nSTCFile: run.stc\n";
}

TEST(HostileRuns, EachEndsInItsExactOutcome) {
    const std::string floats12 = hosttest::floatBytes(std::vector<float>(12, 1.0f));
    const std::vector<HostileRun> table = {
        {"well formed", runText("3", "2", "2", "1"), floats12, "opened 2 x 2 x 1 x 3"},
        {"stc one byte short", runText("3", "2", "2", "1"), floats12.substr(1),
         "DocumentError: \"{stc}\": the time-course file holds 47 bytes; 3 volumes of 2 x 2 x 1 float32 values take 48"},
        {"stc one byte long", runText("3", "2", "2", "1"), floats12 + "x",
         "DocumentError: \"{stc}\": the time-course file holds 49 bytes; 3 volumes of 2 x 2 x 1 float32 values take 48"},
        {"values beyond 2^31", runText("1024", "2048", "2048", "1"), floats12,
         "DocumentError: \"{stc}\": the time-course file holds 48 bytes; 1024 volumes of 2048 x 2048 x 1 float32 "
         "values take 17179869184"},
        {"voxels beyond 2^31", runText("1", "2048", "2048", "512"), floats12,
         "DocumentError: \"{fmr}\": DimX x DimY x DimZ is 2147483648 voxels; a run holds at most 2147483647"},
        {"empty file", "", "", "DocumentError: \"{fmr}\": the required key \"NrOfVolumes\" is missing"},
        // The message names the line, but as a C text it ends at the line's first NUL.
        {"NUL bytes", std::string(16, '\0'), "", "DocumentError: \"{fmr}\", line 1: expected \"Key: value\", found \""},
        {"10 MB single line", std::string(10 << 20, 'k') + ": v", "",
         "DocumentError: \"{fmr}\": the required key \"NrOfVolumes\" is missing"},
        {"count -1", runText("-1", "2", "2", "1"), floats12,
         "DocumentError: \"{fmr}\": NrOfVolumes must be a whole number from 0 to 2147483647, not \"-1\""},
    };
    TempDir dir;
    const std::string fmr = dir.file("run.fmr"), stc = dir.file("run.stc");
    for (const HostileRun& entry : table) {
        hosttest::writeFile(fmr, entry.fmr);
        hosttest::writeFile(stc, entry.stc);
        EXPECT_EQ(fmrOutcome(fmr), replaced(replaced(entry.outcome, "{fmr}", fmr), "{stc}", stc)) << entry.name;
    }
}

TEST(HostileRuns, BinaryGarbageIsRefusedAtItsFirstKeylessLine) {
    TempDir dir;
    const std::string fmr = dir.file("run.fmr");
    hosttest::writeFile(fmr, garbage(4096));
    // Lines 1 to 5 happen to be blank or start with '#' or hold a colon; line 6 holds none.
    EXPECT_EQ(fmrOutcome(fmr), "DocumentError: \"" + fmr +
                                   "\", line 6: expected \"Key: value\", found \"~&\xec"
                                   "k\xb1r\xda\x90S\xdd\x04\x99\"");
}

// Reading /dev/zero whole never ended and grew without bound.
TEST(HostileRuns, ADeviceIsNotADocument) {
    EXPECT_EQ(fmrOutcome("/dev/zero"), "DocumentError: cannot open \"/dev/zero\": it is a device, not a regular file");
}

TEST(HostileRuns, APathOf600CharactersIsTooLongForTheHeader) {
    TempDir dir;
    const std::string folder = longFolder(dir.path(), 600);
    const std::string name = std::string(600 - folder.size() - 5, 'r');
    const std::string fmr = hosttest::writeCountingRun(folder, name, 1, 1, 1, 1);
    ASSERT_EQ(fmr.size(), 600u);
    EXPECT_EQ(fmrOutcome(fmr), "DocumentError: \"" + fmr +
                                   "\": its absolute path has 600 bytes; the FMR header "
                                   "holds at most 303");
}

} // namespace
