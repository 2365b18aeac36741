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
#include "host/research/StrategyDesign.h"
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

// Columns chosen by name, as make-sdm's --interest, --confounds, --derivatives
// and --squares give them; raw values unless standardize is set.
struct NamedColumns {
    std::vector<std::string> interest;
    std::vector<std::string> confounds;
    std::vector<std::string> derivatives;
    std::vector<std::string> squares;
};

corvantis::BuiltDesign build(const std::vector<corvantis::ConfoundTable>& tables, const NamedColumns& request,
                             std::optional<int32_t> volumes, bool standardize = false) {
    corvantis::DesignInputs inputs;
    inputs.tables = tables;
    inputs.interest = request.interest;
    inputs.confounds = request.confounds;
    inputs.derivatives = request.derivatives;
    inputs.squares = request.squares;
    inputs.volumes = volumes;
    inputs.standardize = standardize;
    return corvantis::buildStrategyDesign(inputs, corvantis::ConfoundStrategy{});
}

TEST(BuildDesign, OrdersBlocksFillsUndefinedValuesAndExpands) {
    NamedColumns request;
    request.interest = {"task"};
    request.confounds = {"x", "y"};
    request.derivatives = {"x"};
    request.squares = {"x", "y"};
    const corvantis::BuiltDesign built = build({table(kMotion)}, request, 5);
    const DesignTable& d = built.table;
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
    // The record counts the fill of x: one "n/a", filled with 3.
    EXPECT_EQ(built.columns[1].filled, 1u);
    EXPECT_EQ(built.columns[1].fillValue, 3.0);
    EXPECT_EQ(built.columns[2].filled, 0u);
    EXPECT_FALSE(built.columns[1].standardized);
}

TEST(BuildDesign, StandardizesEveryColumnButTheConstantByDefault) {
    NamedColumns request;
    request.interest = {"task"};
    request.confounds = {"x", "y"};
    request.squares = {"x"};
    const corvantis::BuiltDesign built = build({table(kMotion)}, request, 5, true);
    ASSERT_EQ(built.table.names.size(), 5u);
    for (std::size_t j = 0; j + 1 < built.table.columns.size(); ++j) {
        double mean = 0, squares = 0;
        for (float v : built.table.columns[j]) mean += v;
        mean /= 5;
        for (float v : built.table.columns[j]) squares += (v - mean) * (v - mean);
        EXPECT_NEAR(mean, 0.0, 1e-7) << built.table.names[j];
        EXPECT_NEAR(std::sqrt(squares / 5), 1.0, 1e-6) << built.table.names[j];
        EXPECT_TRUE(built.columns[j].standardized);
    }
    // x filled is 3 1 3 2 6: mean 3, sd sqrt(14/5); its record keeps both.
    EXPECT_EQ(built.columns[1].mean, 3.0);
    EXPECT_DOUBLE_EQ(built.columns[1].sd, std::sqrt(14.0 / 5.0));
    EXPECT_FLOAT_EQ(built.table.columns[1][4], static_cast<float>(3.0 / std::sqrt(14.0 / 5.0)));
    EXPECT_EQ(built.table.columns.back(), (std::vector<float>(5, 1.0f)));
}

std::string refusal(const std::vector<corvantis::ConfoundTable>& tables, const NamedColumns& request,
                    std::optional<int32_t> volumes) {
    try {
        build(tables, request, volumes);
    } catch (const corvantis::DocumentError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(BuildDesign, RefusesUnknownAmbiguousAndRepeatedColumns) {
    NamedColumns request;
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
    NamedColumns request;
    request.confounds = {"x"};
    EXPECT_EQ(refusal({table(kMotion)}, request, 6), "\"t.tsv\" has 5 rows; the run has 6 volumes");
    EXPECT_EQ(refusal({table(kMotion), table("w\n1\n", "u.tsv")}, request, std::nullopt),
              "\"u.tsv\" has 1 rows; \"t.tsv\" has 5");
    EXPECT_EQ(refusal({table("x\nn/a\n")}, request, 1), "the column \"x\" holds no defined value");
}

TEST(BuildDesign, RefusesAConstantColumnAndNamesADesignFileCannotHold) {
    NamedColumns request;
    request.confounds = {"c"};
    EXPECT_EQ(refusal({table("c\tx\n4\t1\nn/a\t2\n4\t3\n")}, request, 3),
              "the column \"c\" is constant (every value 4): the design's constant already stands for it; leave it "
              "out");
    request.confounds = {"a\"b"};
    EXPECT_EQ(refusal({table("a\"b\n1\n2\n")}, request, 2),
              "the column name \"a\"b\" cannot name a predictor of a design file (empty, or holding a quote or a "
              "line break)");
}

TEST(BuildDesign, PatternsChooseEveryMatchingColumnInTableOrder) {
    NamedColumns request;
    request.confounds = {"cosine0[02]", "y*"};
    request.squares = {"y?"};
    const DesignTable d =
        build({table("cosine00\tcosine01\tcosine02\ty1\ty2\n1\t2\t3\t4\t5\n2\t1\t5\t3\t1\n0\t0\t0\t1\t2\n")}, request,
              3)
            .table;
    EXPECT_EQ(d.names,
              (std::vector<std::string>{"cosine00", "cosine02", "y1", "y2", "y1 squared", "y2 squared", "Constant"}));
    request.confounds = {"z*"};
    EXPECT_EQ(refusal({table(kMotion)}, request, 5), "no column of the tables matches the pattern \"z*\"");
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
    // z-scored by default: y is 0 0.5 -1 2 0, mean 0.3, sd sqrt(4.8 / 5).
    const double sd = std::sqrt(4.8 / 5.0);
    for (std::size_t t = 0; t < 5; ++t) {
        const double y[] = {0, 0.5, -1, 2, 0};
        EXPECT_EQ(read.predictorValues[2][t], static_cast<float>((y[t] - 0.3) / sd)) << t;
    }
    // Five volumes for four predictors: one residual degree of freedom, warned about.
    EXPECT_NE(
        ok.err.find("Corvantis: warning: \"" + dir.file("m.sdm") + "\" leaves only 1 residual degrees of freedom"),
        std::string::npos)
        << ok.err;

    const hosttest::Outcome raw =
        hosttest::runProgram(hosttest::corvantisProgram(),
                             {"make-sdm", "--table", dir.file("confounds.tsv"), "--interest", "task", "--confounds",
                              "x,y", "--fmr", fmr, "--no-standardize", "--output", dir.file("raw.sdm")});
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_EQ(readSDMFile(dir.file("raw.sdm")).predictorValues[2], (std::vector<float>{0, 0.5f, -1, 2, 0}));

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
