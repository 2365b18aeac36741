// Data rows: fields found from the decimal points, their conversion, and line ends.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <locale>
#include <stdexcept>
#include <string>
#include <vector>

#include "SDMTestFiles.h"
#include "design/SDMReader.h"
#include "tests/support/TempDir.h"

namespace {

using testsupport::TempDir;

using Floats = std::vector<float>;

std::string header(int predictors, int points) {
    return "NrOfPredictors: " + std::to_string(predictors) + " NrOfDataPoints: " + std::to_string(points) +
           " FirstConfoundPredictor: 1\n\"\"\n";
}

class SDMData : public ::testing::Test {
protected:
    SDMFile read(const std::string& text) { return readSDMFile(dir.write("design.sdm", text)); }

    // The values of the one row of an N-predictor file.
    Floats row(int predictors, const std::string& line) {
        const SDMFile r = read(header(predictors, 1) + line + "\n");
        Floats values;
        for (const std::vector<float>& column : r.predictorValues) values.push_back(column.at(0));
        return values;
    }

    template <class E>
    std::string errorOf(int predictors, const std::string& line) {
        try {
            read(header(predictors, 1) + line + "\n");
        } catch (const E& e) {
            return e.what();
        }
        ADD_FAILURE() << "no error for " << line;
        return "";
    }

    TempDir dir;
};

TEST_F(SDMData, WellFormedRowsFillOneColumnPerPredictor) {
    const SDMFile r = read(kWellFormedSDM);
    ASSERT_EQ(r.predictorValues.size(), 3u);
    EXPECT_EQ(r.predictorValues[0], (Floats{0.0f, 1.0f, 1.0f, 0.0f}));
    EXPECT_EQ(r.predictorValues[1], (Floats{-0.25f, 0.5f, -1.75f, 12.125f}));
    EXPECT_EQ(r.predictorValues[2], (Floats{1.0f, 1.0f, 1.0f, 1.0f}));
}

TEST_F(SDMData, ValuesNarrowFromDoubleToTheNearestFloat) {
    EXPECT_EQ(row(2, "0.100000 -0.333333"), (Floats{0.1f, -0.333333f}));
    // Just above the midpoint of 1 and the next float: the double is the midpoint
    // itself, which rounds to even (1.0), where a direct float conversion would
    // round up.
    EXPECT_EQ(row(1, "1.0000000596046447755"), (Floats{1.0f}));
}

TEST_F(SDMData, OnePredictorTakesTheWholeRow) {
    EXPECT_EQ(row(1, "   -3.25 trailing words"), (Floats{-3.25f}));
    EXPECT_EQ(row(1, "\t+7.5e1"), (Floats{75.0f}));
}

TEST_F(SDMData, ValuesRunTogetherWithTheirSignsComeApart) {
    EXPECT_EQ(row(3, "-1.000000-2.000000+3.500000"), (Floats{-1.0f, -2.0f, 3.5f}));
    EXPECT_EQ(row(3, " 1.000000-2.000000 3.500000"), (Floats{1.0f, -2.0f, 3.5f}));
}

TEST_F(SDMData, ABlankSeparatesEvenLongIntegerParts) {
    EXPECT_EQ(row(2, "1.0 100.0"), (Floats{1.0f, 100.0f}));
    EXPECT_EQ(row(3, "12345.5\t\t-678.25  .5"), (Floats{12345.5f, -678.25f, 0.5f}));
    // A blank outranks the exponent's sign.
    EXPECT_EQ(row(2, "1.5e-01 -20.0e+1"), (Floats{0.15f, -200.0f}));
}

TEST_F(SDMData, DigitsRunTogetherFallBackToTwoBeforeThePoint) {
    EXPECT_EQ(row(2, "12.5034.25"), (Floats{12.5f, 34.25f}));
}

TEST_F(SDMData, AWrongPointCountGivesARowOfZeros) {
    EXPECT_EQ(row(2, "1 2"), (Floats{0.0f, 0.0f}));
    EXPECT_EQ(row(2, "1.0"), (Floats{0.0f, 0.0f}));
    EXPECT_EQ(row(2, "1.0 2.0 3.0"), (Floats{0.0f, 0.0f}));
    EXPECT_EQ(row(2, "a.b c.d e.f"), (Floats{0.0f, 0.0f}));
}

TEST_F(SDMData, ABlankLineIsATimePointAndShiftsTheRowsAfterIt) {
    const SDMFile r = read(header(2, 3) + "1.0 2.0\n\n3.0 4.0\n");
    EXPECT_EQ(r.predictorValues[0], (Floats{1.0f, 0.0f, 3.0f}));
    EXPECT_EQ(r.predictorValues[1], (Floats{2.0f, 0.0f, 4.0f}));
}

TEST_F(SDMData, MissingRowsAreZerosAndRowsPastTheLastAreNotRead) {
    const SDMFile shortFile = read(header(1, 3) + "5.0");
    EXPECT_EQ(shortFile.predictorValues[0], (Floats{5.0f, 0.0f, 0.0f}));
    const SDMFile longFile = read(header(1, 1) + "5.0\nx.0\n");
    EXPECT_EQ(longFile.predictorValues[0], (Floats{5.0f}));
}

TEST_F(SDMData, AFieldThatIsNoNumberFailsTheRead) {
    EXPECT_EQ(errorOf<std::invalid_argument>(2, "1.0 a.5"), "invalid stof argument");
    EXPECT_EQ(errorOf<std::invalid_argument>(1, "   .x"), "invalid stof argument");
    // Two points side by side leave the first field empty.
    EXPECT_EQ(errorOf<std::invalid_argument>(2, ".."), "invalid stof argument");
}

TEST_F(SDMData, ARangeErrorOfTheConversionFailsTheRead) {
    EXPECT_EQ(errorOf<std::out_of_range>(1, "1.e400"), "stof argument out of range");
    EXPECT_EQ(errorOf<std::out_of_range>(2, "1.0 -1.e400"), "stof argument out of range");
    // Within double range: no error, even where a float overflows.
    EXPECT_EQ(row(1, "1.e39"), (Floats{INFINITY}));
}

TEST_F(SDMData, CRLFLineEndsReadLikeLineFeeds) {
    std::string crlf;
    for (char c : std::string(kWellFormedSDM)) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    const SDMFile withLF = read(kWellFormedSDM);
    const SDMFile withCRLF = readSDMFile(dir.write("crlf.sdm", crlf));
    expectSameDesign(withLF, withCRLF);
}

TEST_F(SDMData, ACarriageReturnInsideALineBelongsToTheLine) {
    const SDMFile r = read("NrOfPredictors: 2 FirstConfoundPredictor: 1\r\n\"a\rb\" \"c\"\r\r\n");
    EXPECT_EQ(r.predictorNames, (std::vector<std::string>{"a\rb", "c"}));
}

// Restores the process's locales when the test ends.
class GlobalLocaleGuard {
public:
    GlobalLocaleGuard() : cLocale_(std::setlocale(LC_ALL, nullptr)), cppLocale_() {}
    ~GlobalLocaleGuard() {
        std::setlocale(LC_ALL, cLocale_.c_str());
        std::locale::global(cppLocale_);
    }

private:
    std::string cLocale_;
    std::locale cppLocale_;
};

TEST_F(SDMData, AGlobalCommaLocaleChangesNothing) {
    GlobalLocaleGuard guard;
    const char* const candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German"};
    bool switched = false;
    for (const char* name : candidates) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            std::locale::global(std::locale(name));
            switched = true;
            break;
        }
    }
    if (!switched) GTEST_SKIP() << "no comma-decimal locale installed";
    ASSERT_EQ(*std::localeconv()->decimal_point, ',');
    const SDMFile r = read("NrOfPredictors: 2 NrOfDataPoints: 1.000 FirstConfoundPredictor: 1\n\"\"\n0.5 1,5.25\n");
    // No digit grouping in header integers: ".000" is a token of its own.
    EXPECT_EQ(r.nrOfDataPoints.value, 1);
    EXPECT_EQ(r.predictorValues[0][0], 0.5f);
    EXPECT_EQ(r.predictorValues[1][0], 1.0f);
}

} // namespace
