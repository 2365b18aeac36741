// Checks of designs before a run: rank and the columns that add nothing,
// residual degrees of freedom, condition number, and nesting of two models.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/research/DesignCheck.h"

namespace {

using corvantis::DesignTable;

constexpr double kPi = 3.14159265358979323846;

// DCT-II cosines: zero mean and orthogonal to each other over the n volumes.
std::vector<float> cosine(int k, int n) {
    std::vector<float> column;
    for (int t = 0; t < n; ++t) column.push_back(static_cast<float>(std::cos(kPi * (t + 0.5) * k / n)));
    return column;
}

std::vector<float> combination(const std::vector<float>& a, double ca, const std::vector<float>& b, double cb) {
    std::vector<float> column;
    for (std::size_t t = 0; t < a.size(); ++t) column.push_back(static_cast<float>(ca * a[t] + cb * b[t]));
    return column;
}

DesignTable design(std::vector<std::string> names, std::vector<std::vector<float>> columns) {
    DesignTable d;
    names.push_back("Constant");
    columns.emplace_back(columns.front().size(), 1.0f);
    d.names = std::move(names);
    d.columns = std::move(columns);
    return d;
}

std::string refusal(const DesignTable& d) {
    try {
        corvantis::checkDesign(d, "model 1");
    } catch (const corvantis::DesignRefusal& e) {
        return e.what();
    }
    return "(accepted)";
}

std::string pairRefusal(const DesignTable& a, const DesignTable& b) {
    try {
        corvantis::checkDesignPair(a, b);
    } catch (const corvantis::DesignRefusal& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(DesignCheck, ConditionNumberOfTheStandardizedDesignMatchesItsClosedForm) {
    // z1 and z2 at an angle whose cosine is 0.8, both orthogonal to the constant:
    // singular values sqrt(n (1 +- 0.8)) and sqrt(n), so the condition number is 3.
    const int n = 64;
    const std::vector<float> a = cosine(1, n);
    const std::vector<float> b = cosine(2, n);
    // Scaled and shifted as raw units would be: standardization removes both.
    std::vector<float> x2 = combination(a, 0.8 * 1000.0, b, 0.6 * 1000.0);
    for (float& v : x2) v += 5000.0f;
    const corvantis::DesignCheck check = corvantis::checkDesign(design({"x1", "x2"}, {a, x2}), "model 1");
    EXPECT_EQ(check.volumes, n);
    EXPECT_EQ(check.predictors, 3);
    EXPECT_EQ(check.rank, 3);
    EXPECT_EQ(check.residualDf, 61);
    EXPECT_NEAR(check.conditionNumber, 3.0, 1e-5);
    EXPECT_TRUE(check.dependentColumns.empty());
    EXPECT_TRUE(check.warnings.empty());
    // max(n, p) * float epsilon * the largest singular value, sqrt(1.8 n).
    EXPECT_NEAR(check.rankTolerance, 64 * std::numeric_limits<float>::epsilon() * std::sqrt(1.8 * n), 1e-10);
}

TEST(DesignCheck, NamesTheColumnsThatAreCombinationsOfThoseBeforeThem) {
    const int n = 30;
    const std::vector<float> a = cosine(1, n);
    const std::vector<float> b = cosine(3, n);
    const std::vector<float> copy = combination(a, 2.0, b, 0.0);
    const corvantis::DesignCheck one = corvantis::checkDesign(design({"a", "b", "a again"}, {a, b, copy}), "model 2");
    EXPECT_EQ(one.rank, 3);
    EXPECT_EQ(one.predictors, 4);
    EXPECT_EQ(one.residualDf, 27);
    EXPECT_EQ(one.dependentColumns, (std::vector<std::string>{"a again"}));
    ASSERT_EQ(one.warnings.size(), 1u);
    EXPECT_EQ(one.warnings[0],
              "model 2 is rank deficient (rank 3 of 4 columns): \"a again\" is a linear combination "
              "of the columns before it; leave it out");
    EXPECT_GT(one.conditionNumber, 1e6);

    // Two: a sum of earlier columns, and a column that is the constant again.
    const std::vector<float> sum = combination(a, 1.0, b, -2.0);
    const std::vector<float> level(n, 7.0f);
    const std::vector<float> c = cosine(5, n);
    const corvantis::DesignCheck two =
        corvantis::checkDesign(design({"a", "b", "a-2b", "c", "seven"}, {a, b, sum, c, level}), "model 2");
    EXPECT_EQ(two.rank, 4);
    EXPECT_EQ(two.dependentColumns, (std::vector<std::string>{"a-2b", "Constant"}));
    ASSERT_EQ(two.warnings.size(), 1u);
    EXPECT_EQ(two.warnings[0],
              "model 2 is rank deficient (rank 4 of 6 columns): \"a-2b\", \"Constant\" are linear "
              "combinations of the columns before them; leave them out");
}

TEST(DesignCheck, RefusesNoResidualDegreesOfFreedomAndWarnsAboutFew) {
    // 27 predictors on 20 volumes.
    std::vector<std::string> names;
    std::vector<std::vector<float>> columns;
    for (int k = 1; k <= 26; ++k) {
        names.push_back("c" + std::to_string(k));
        columns.push_back(cosine(k, 20));
    }
    EXPECT_EQ(refusal(design(names, columns)),
              "model 1 has 27 predictors of rank 20 for 20 volumes: no residual degrees of freedom are left to "
              "estimate the noise; use fewer confounds or a longer run");
    names.resize(12);
    columns.resize(12);
    const corvantis::DesignCheck few = corvantis::checkDesign(design(names, columns), "model 1");
    EXPECT_EQ(few.residualDf, 7);
    ASSERT_EQ(few.warnings.size(), 1u);
    EXPECT_EQ(few.warnings[0],
              "model 1 leaves only 7 residual degrees of freedom (13 predictors of rank 13 for 20 "
              "volumes); its estimates and tests are unreliable under 10");
    // The boundary: 9 residual degrees of freedom are warned about, 10 are not.
    names.resize(10);
    columns.resize(10);
    EXPECT_EQ(corvantis::checkDesign(design(names, columns), "model 1").warnings.size(), 1u);
    names.resize(9);
    columns.resize(9);
    EXPECT_TRUE(corvantis::checkDesign(design(names, columns), "model 1").warnings.empty());
}

TEST(DesignCheck, RefusesValuesThatAreNotFinite) {
    std::vector<float> a = cosine(1, 12);
    a[4] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(refusal(design({"a"}, {a})), "model 1: the column \"a\" holds a value that is not finite in volume 5");
}

TEST(DesignPairCheck, NestedModelsGiveTheFTestsDegreesOfFreedom) {
    const int n = 40;
    const std::vector<float> task = cosine(2, n);
    const std::vector<float> drift = cosine(1, n);
    std::vector<float> rawDrift = combination(drift, 300.0, drift, 0.0);
    for (float& v : rawDrift) v += 800.0f; // raw units in model 1, z-scored in model 2: the same space
    const std::vector<float> m1 = cosine(4, n);
    const std::vector<float> m2 = cosine(7, n);
    const DesignTable model1 = design({"task", "drift"}, {task, rawDrift});
    const DesignTable model2 = design({"task", "drift", "m1", "m2"}, {task, drift, m1, m2});
    const corvantis::DesignPairCheck pair = corvantis::checkDesignPair(model1, model2);
    EXPECT_TRUE(pair.nested);
    EXPECT_TRUE(pair.columnsOutsideModel2.empty());
    EXPECT_EQ(pair.numeratorDf, 2);
    EXPECT_EQ(pair.denominatorDf, 35);
    EXPECT_EQ(pair.model1.rank, 3);
    EXPECT_EQ(pair.model2.rank, 5);
    EXPECT_TRUE(pair.warnings.empty());
}

TEST(DesignPairCheck, ModelsThatAreNotNestedAreSaidToBeSo) {
    const int n = 40;
    const std::vector<float> task = cosine(2, n);
    // Model 1's drift is in model 2 only up to a part of 1e-4 of its size: above the tolerance.
    const std::vector<float> drift = combination(cosine(1, n), 1.0, cosine(9, n), 1e-4);
    const DesignTable model1 = design({"task", "drift"}, {task, drift});
    const DesignTable model2 = design({"task", "cosine1", "m1"}, {task, cosine(1, n), cosine(4, n)});
    const corvantis::DesignPairCheck pair = corvantis::checkDesignPair(model1, model2);
    EXPECT_FALSE(pair.nested);
    EXPECT_EQ(pair.columnsOutsideModel2, (std::vector<std::string>{"drift"}));
    EXPECT_EQ(pair.numeratorDf, 0);
    ASSERT_EQ(pair.warnings.size(), 1u);
    EXPECT_EQ(pair.warnings[0],
              "the models are not nested: model 2 cannot fit model 1's \"drift\", so the F test "
              "between them is meaningless and is left out; tSNR and adjusted R squared still "
              "compare");
    // A part of 1e-7, float rounding's size, counts as inside.
    const DesignTable close = design({"task", "drift"}, {task, combination(cosine(1, n), 1.0, cosine(9, n), 1e-7)});
    EXPECT_TRUE(corvantis::checkDesignPair(close, model2).nested);
}

TEST(DesignPairCheck, RefusesAFullerModel1ASameSpaceAndDifferentRuns) {
    const int n = 40;
    const DesignTable small = design({"task"}, {cosine(2, n)});
    const DesignTable large = design({"task", "m1", "m2"}, {cosine(2, n), cosine(3, n), cosine(5, n)});
    EXPECT_EQ(pairRefusal(large, small),
              "model 1 (rank 4) is fuller than model 2 (rank 2); the comparison asks what model 2 adds to model 1: "
              "swap the two models");
    const DesignTable scaled = design({"task x 2"}, {combination(cosine(2, n), 2.0, cosine(2, n), 0.0)});
    EXPECT_EQ(pairRefusal(small, scaled),
              "model 2 spans the same columns as model 1 (rank 2): it adds nothing to test");
    EXPECT_EQ(pairRefusal(small, design({"task", "m1"}, {cosine(2, 30), cosine(3, 30)})),
              "model 1 has 40 volumes and model 2 30; both must describe the same run");
}

} // namespace
