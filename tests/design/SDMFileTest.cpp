// The model operations on a design: trailing constant and added confounds.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "SDMTestFiles.h"
#include "design/SDMFile.h"

namespace {

using Floats = std::vector<float>;
using Ints = std::vector<int32_t>;
using Names = std::vector<std::string>;

// A record as the reader leaves it: predictors named p1, p2, ... coloured i, 10i, 100i.
SDMFile design(const std::vector<Floats>& columns, int32_t points) {
    SDMFile r;
    r.nrOfPredictors.value = static_cast<int32_t>(columns.size());
    r.nrOfDataPoints.value = points;
    r.firstConfoundPredictor.value = 2;
    for (std::size_t j = 0; j < columns.size(); ++j) {
        const int32_t i = static_cast<int32_t>(j) + 1;
        r.colorRed.push_back(i);
        r.colorGreen.push_back(10 * i);
        r.colorBlue.push_back(100 * i);
        r.predictorNames.push_back("p" + std::to_string(i));
        r.predictorValues.push_back(columns[j]);
    }
    return r;
}

TEST(LastPredictorIsConstant, NeedsANonZeroValueRepeatedInEveryRow) {
    EXPECT_TRUE(design({{0.0f, 1.0f}, {2.5f, 2.5f}}, 2).lastPredictorIsConstant());
    EXPECT_TRUE(design({{-1.0f}}, 1).lastPredictorIsConstant());
    EXPECT_FALSE(design({}, 2).lastPredictorIsConstant());
    EXPECT_FALSE(design({{}}, 0).lastPredictorIsConstant());
    EXPECT_FALSE(design({{0.0f, 0.0f}}, 2).lastPredictorIsConstant());
    EXPECT_FALSE(design({{-0.0f, -0.0f}}, 2).lastPredictorIsConstant());
    EXPECT_FALSE(design({{1.0f, 1.0f, 1.5f}}, 3).lastPredictorIsConstant());
    // Only the last column counts.
    EXPECT_FALSE(design({{1.0f, 1.0f}, {1.0f, 2.0f}}, 2).lastPredictorIsConstant());
}

TEST(LastPredictorIsConstant, ANaNAnywhereIsNotAConstant) {
    EXPECT_FALSE(design({{NAN, NAN}}, 2).lastPredictorIsConstant());
    EXPECT_FALSE(design({{1.0f, NAN}}, 2).lastPredictorIsConstant());
}

TEST(EnsureConstant, KeepsAConstantLastColumnAndSetsIncludesConstant) {
    SDMFile r = design({{0.0f, 1.0f, 0.0f}, {2.5f, 2.5f, 2.5f}}, 3);
    r.includesConstant.value = false;
    const SDMFile before = r;
    r.ensureConstant();
    EXPECT_TRUE(r.includesConstant.value);
    r.includesConstant.value = false;
    expectSameDesign(r, before);
}

TEST(EnsureConstant, AppendsConstantAfterAZeroOrVaryingLastColumn) {
    for (const Floats& last : {Floats{0.0f, 0.0f}, Floats{1.0f, 2.0f}, Floats{NAN, 1.0f}}) {
        SDMFile r = design({{3.0f, 4.0f}, last}, 2);
        r.ensureConstant();
        EXPECT_EQ(r.nrOfPredictors.value, 3);
        EXPECT_EQ(r.firstConfoundPredictor.value, 2);
        EXPECT_TRUE(r.includesConstant.value);
        EXPECT_EQ(r.predictorNames, (Names{"p1", "p2", "Constant"}));
        EXPECT_EQ(r.colorRed, (Ints{1, 2, 255}));
        EXPECT_EQ(r.colorGreen, (Ints{10, 20, 255}));
        EXPECT_EQ(r.colorBlue, (Ints{100, 200, 255}));
        ASSERT_EQ(r.predictorValues.size(), 3u);
        EXPECT_EQ(r.predictorValues[2], (Floats{1.0f, 1.0f}));
        EXPECT_TRUE(r.lastPredictorIsConstant());
    }
}

TEST(EnsureConstant, WithoutDataPointsAddsAnEmptyColumnThatIsNoConstant) {
    SDMFile r = design({{}}, 0);
    r.ensureConstant();
    EXPECT_EQ(r.nrOfPredictors.value, 2);
    EXPECT_EQ(r.predictorNames, (Names{"p1", "Constant"}));
    EXPECT_TRUE(r.predictorValues[1].empty());
    EXPECT_TRUE(r.includesConstant.value);
    EXPECT_FALSE(r.lastPredictorIsConstant());
}

TEST(EnsureConstant, GivesADesignWithoutPredictorsItsConstant) {
    SDMFile r = design({}, 2);
    r.ensureConstant();
    EXPECT_EQ(r.nrOfPredictors.value, 1);
    EXPECT_EQ(r.predictorValues, (std::vector<Floats>{{1.0f, 1.0f}}));
}

TEST(AddPredictor, OfTheWrongLengthChangesNothing) {
    SDMFile r = design({{1.0f, 2.0f}}, 2);
    const SDMFile before = r;
    r.addPredictor({5.0f, 5.0f, 5.0f}, "long", 1, 1, 1);
    r.addPredictor({5.0f}, "short", 1, 1, 1);
    expectSameDesign(r, before);
    EXPECT_FALSE(r.includesConstant.value);
}

TEST(AddPredictor, ASecondConstantIsRefused) {
    SDMFile r = design({{1.0f, 2.0f}, {1.0f, 1.0f}}, 2);
    const SDMFile before = r;
    r.addPredictor({3.0f, 3.0f}, "again", 7, 8, 9);
    expectSameDesign(r, before);
}

TEST(AddPredictor, GoesInFrontOfATrailingConstant) {
    SDMFile r = design({{1.0f, 2.0f}, {1.0f, 1.0f}}, 2);
    r.addPredictor({0.5f, -0.5f}, "motion", 7, 8, 9);
    EXPECT_EQ(r.nrOfPredictors.value, 3);
    EXPECT_EQ(r.firstConfoundPredictor.value, 2);
    EXPECT_EQ(r.predictorNames, (Names{"p1", "motion", "p2"}));
    EXPECT_EQ(r.colorRed, (Ints{1, 7, 2}));
    EXPECT_EQ(r.colorGreen, (Ints{10, 8, 20}));
    EXPECT_EQ(r.colorBlue, (Ints{100, 9, 200}));
    EXPECT_EQ(r.predictorValues, (std::vector<Floats>{{1.0f, 2.0f}, {0.5f, -0.5f}, {1.0f, 1.0f}}));
    EXPECT_TRUE(r.lastPredictorIsConstant());
    EXPECT_FALSE(r.includesConstant.value);
}

TEST(AddPredictor, GoesLastOtherwiseAndAConstantSetsIncludesConstant) {
    SDMFile r = design({{1.0f, 2.0f}}, 2);
    r.addPredictor({0.0f, 3.0f}, "drift", 4, 5, 6);
    EXPECT_EQ(r.predictorNames, (Names{"p1", "drift"}));
    EXPECT_FALSE(r.includesConstant.value);
    r.addPredictor({4.0f, 4.0f}, "level", 4, 5, 6);
    EXPECT_EQ(r.predictorNames, (Names{"p1", "drift", "level"}));
    EXPECT_EQ(r.nrOfPredictors.value, 3);
    EXPECT_TRUE(r.includesConstant.value);
}

TEST(SDMFileValue, CopiesAreDeep) {
    SDMFile a = design({{1.0f, 2.0f}}, 2);
    const SDMFile b = a;
    a.ensureConstant();
    a.predictorValues[0][0] = 9.0f;
    EXPECT_EQ(b.nrOfPredictors.value, 1);
    EXPECT_EQ(b.predictorValues, (std::vector<Floats>{{1.0f, 2.0f}}));
}

} // namespace
