// Design files from regressor tables: what the design reader reads back from
// them, how tables become columns, and what is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "HostTestSupport.h"
#include "design/SDMReader.h"
#include "host/formats/ConfoundTable.h"
#include "host/formats/HostErrors.h"
#include "host/formats/SdmWriter.h"
#include "host/research/DesignBuilder.h"
#include "tests/support/FloatBits.h"

namespace {

using corvantis::DesignTable;
using hosttest::TempDir;
using testsupport::bitsOf;

void expectReadBackExactly(const DesignTable& design, const std::string& path) {
    corvantis::writeSdmFile(path, design);
    const SDMFile read = readSDMFile(path);
    ASSERT_EQ(read.nrOfPredictors.value, static_cast<int32_t>(design.columns.size()));
    ASSERT_EQ(read.nrOfDataPoints.value, static_cast<int32_t>(design.columns.front().size()));
    EXPECT_EQ(read.firstConfoundPredictor.value, design.firstConfoundPredictor);
    EXPECT_TRUE(read.includesConstant.value);
    EXPECT_EQ(read.predictorNames, design.names);
    for (std::size_t j = 0; j < design.columns.size(); ++j) {
        for (std::size_t t = 0; t < design.columns[j].size(); ++t) {
            ASSERT_EQ(bitsOf(read.predictorValues[j][t]), bitsOf(design.columns[j][t]))
                << "predictor " << j << ", point " << t << ": wrote " << design.columns[j][t] << " as "
                << corvantis::sdmValueText(design.columns[j][t]);
        }
    }
}

DesignTable randomDesign(std::size_t predictors, std::size_t points, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-40, 38);
    DesignTable design;
    for (std::size_t j = 0; j < predictors; ++j) {
        design.names.push_back("P" + std::to_string(j));
        std::vector<float> column;
        for (std::size_t t = 0; t < points; ++t) {
            // Mostly the sizes designs hold, hundreds and thousands among them; some of every size a float has.
            const double scale = t % 4 == 3 ? std::pow(10.0, exponent(rng)) : 2000.0;
            column.push_back(static_cast<float>(mantissa(rng) * scale));
        }
        design.columns.push_back(column);
    }
    design.firstConfoundPredictor = 2;
    return design;
}

TEST(SdmWriter, RandomValuesReadBackBitForBit) {
    TempDir dir;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        expectReadBackExactly(randomDesign(7, 300, seed), dir.file("random.sdm"));
    }
}

TEST(SdmWriter, EdgeValuesReadBackBitForBit) {
    TempDir dir;
    DesignTable design;
    design.names = {"Edges"};
    design.columns = {{0.0f, -0.0f, 1.0f, -1.0f, 99.99999f, 100.0f, -100.0f, 123456.789f, -98765.4321f, 1e30f, -1e-30f,
                       std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest(),
                       std::numeric_limits<float>::min(), std::numeric_limits<float>::denorm_min(),
                       std::nextafter(1.0f, 2.0f), std::nextafter(100.0f, 0.0f)}};
    design.firstConfoundPredictor = 1;
    expectReadBackExactly(design, dir.file("one.sdm")); // one predictor: the whole row is its field
    design.names.push_back("Mirror");
    design.columns.push_back(design.columns.front());
    for (float& v : design.columns.back()) v = -v;
    expectReadBackExactly(design, dir.file("two.sdm"));
}

TEST(SdmWriter, EveryValueHasOneSignAndOneDigitBeforeItsPoint) {
    EXPECT_EQ(corvantis::sdmValueText(100.0f), " 1.00000000e+02");
    EXPECT_EQ(corvantis::sdmValueText(-0.5f), "-5.00000000e-01");
}

corvantis::ConfoundTable table(const std::string& text, const std::string& path = "t.tsv") {
    return corvantis::parseConfoundTable(text, path);
}

TEST(ConfoundTable, ReadsNamesValuesAndUndefinedOnes) {
    const corvantis::ConfoundTable t = table("a\tb c\n1.5\tn/a\r\n-2e3\t4\n");
    ASSERT_EQ(t.names, (std::vector<std::string>{"a", "b c"}));
    ASSERT_EQ(t.rows(), 2u);
    EXPECT_EQ(*t.columns[0][1], -2000.0);
    EXPECT_FALSE(t.columns[1][0].has_value());
    EXPECT_EQ(*t.columns[1][1], 4.0);
}

TEST(ConfoundTable, RefusesTextsThatAreNotNumbersAndShortRows) {
    try {
        table("a\tb\n1\tx\n");
        FAIL();
    } catch (const corvantis::DocumentError& e) {
        EXPECT_STREQ(e.what(), "\"t.tsv\": row 1, column \"b\" holds \"x\", not a finite number or \"n/a\"");
    }
    EXPECT_THROW(table("a\tb\n1\n"), corvantis::DocumentError);
    EXPECT_THROW(table("a\n1\ninf\n"), corvantis::DocumentError);
}

const char kMotion[] = "task\tx\ty\n1\tn/a\t0\n0\t1\t0.5\n1\t3\t-1\n0\t2\t2\n1\t6\t0\n";

TEST(BuildDesign, OrdersBlocksFillsUndefinedValuesAndExpands) {
    corvantis::DesignRequest request;
    request.interest = {"task"};
    request.confounds = {"x", "y"};
    request.derivatives = {"x"};
    request.squares = {"x", "y"};
    const DesignTable d = corvantis::buildDesign({table(kMotion)}, request, 5);
    EXPECT_EQ(d.names, (std::vector<std::string>{"task", "x", "y", "x derivative", "x squared", "x derivative squared",
                                                 "y squared", "Constant"}));
    EXPECT_EQ(d.firstConfoundPredictor, 2);
    // x: n/a is the mean of 1, 3, 2, 6; its derivative's first value the mean of -2, 2, -1, 4.
    EXPECT_EQ(d.columns[1], (std::vector<float>{3, 1, 3, 2, 6}));
    EXPECT_EQ(d.columns[3], (std::vector<float>{0.75f, -2, 2, -1, 4}));
    EXPECT_EQ(d.columns[4], (std::vector<float>{9, 1, 9, 4, 36}));
    EXPECT_EQ(d.columns[5], (std::vector<float>{0.5625f, 4, 4, 1, 16}));
    EXPECT_EQ(d.columns[6], (std::vector<float>{0, 0.25f, 1, 4, 0}));
    EXPECT_EQ(d.columns[7], (std::vector<float>(5, 1.0f)));
}

std::string refusal(const std::vector<corvantis::ConfoundTable>& tables, const corvantis::DesignRequest& request,
                    std::optional<int32_t> volumes) {
    try {
        corvantis::buildDesign(tables, request, volumes);
    } catch (const corvantis::DocumentError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(BuildDesign, RefusesUnknownAmbiguousAndRepeatedColumns) {
    corvantis::DesignRequest request;
    request.confounds = {"z"};
    EXPECT_EQ(refusal({table(kMotion)}, request, 5), "no table has a column \"z\"");
    request.confounds = {"x"};
    EXPECT_EQ(refusal({table(kMotion), table("x\n1\n2\n3\n4\n5\n", "u.tsv")}, request, 5),
              "the column \"x\" is in more than one table");
    request.interest = {"x"};
    EXPECT_EQ(refusal({table(kMotion)}, request, 5), "the column \"x\" is chosen twice");
    request.interest = {};
    request.squares = {"task"};
    EXPECT_EQ(refusal({table(kMotion)}, request, 5),
              "the column \"task\" is to be expanded but is neither of interest nor a confound");
}

TEST(BuildDesign, RefusesTablesWhoseLengthIsNotTheRunsOrEachOthers) {
    corvantis::DesignRequest request;
    request.confounds = {"x"};
    EXPECT_EQ(refusal({table(kMotion)}, request, 6), "\"t.tsv\" has 5 rows; the run has 6 volumes");
    EXPECT_EQ(refusal({table(kMotion), table("w\n1\n", "u.tsv")}, request, std::nullopt),
              "\"u.tsv\" has 1 rows; \"t.tsv\" has 5");
    EXPECT_EQ(refusal({table("x\nn/a\n")}, request, 1), "the column \"x\" holds no defined value");
}

TEST(MakeSdmCommand, WritesTheDesignTheReaderReadsAndRefusesUnknownColumns) {
    TempDir dir;
    hosttest::writeFile(dir.file("confounds.tsv"), kMotion);
    const std::string fmr = hosttest::writeCountingRun(dir.path(), "run", 2, 2, 1, 5);
    const hosttest::Outcome ok = hosttest::runProgram(
        hosttest::corvantisProgram(), {"make-sdm", "--table", dir.file("confounds.tsv"), "--interest", "task",
                                       "--confounds", "x,y", "--fmr", fmr, "--output", dir.file("m.sdm")});
    ASSERT_EQ(ok.status, 0) << ok.err;
    const SDMFile read = readSDMFile(dir.file("m.sdm"));
    EXPECT_EQ(read.nrOfPredictors.value, 4);
    EXPECT_EQ(read.firstConfoundPredictor.value, 2);
    EXPECT_EQ(read.predictorValues[2], (std::vector<float>{0, 0.5f, -1, 2, 0}));

    const hosttest::Outcome unknown =
        hosttest::runProgram(hosttest::corvantisProgram(), {"make-sdm", "--table", dir.file("confounds.tsv"),
                                                            "--confounds", "rot_z", "--output", dir.file("n.sdm")});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "Corvantis: error: no table has a column \"rot_z\"\n");
    EXPECT_FALSE(hosttest::fileExists(dir.file("n.sdm")));

    const hosttest::Outcome wrongLength = hosttest::runProgram(
        hosttest::corvantisProgram(), {"make-sdm", "--table", dir.file("confounds.tsv"), "--confounds", "x",
                                       "--volumes", "7", "--output", dir.file("n.sdm")});
    EXPECT_EQ(wrongLength.status, 1);
    EXPECT_NE(wrongLength.err.find("has 5 rows; the run has 7 volumes"), std::string::npos) << wrongLength.err;
}

} // namespace
