#include "host/research/FTestSignificance.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "HostTestSupport.h"

namespace {

using corvantis::benjaminiHochberg;
using corvantis::FdrCut;
using corvantis::negLog10FTailProbability;

struct FCase {
    double f, df1, df2;
};

// -log10 P(F > f) from scipy where the double p is a normal number, and from
// mpmath's regularized incomplete beta at 60 digits for every case.
std::vector<double> pythonReference(const std::vector<FCase>& cases, const std::string& library) {
    std::ostringstream script;
    script.precision(17);
    script << "import sys\n";
    if (library == "scipy") {
        script << "from scipy.stats import f\nimport math\n"
                  "for a in sys.argv[1:]:\n"
                  "    x, d1, d2 = map(float, a.split(','))\n"
                  "    print(repr(-math.log10(f.sf(x, d1, d2))))\n";
    } else {
        script << "import mpmath\nmpmath.mp.dps = 60\n"
                  "for a in sys.argv[1:]:\n"
                  "    x, d1, d2 = map(mpmath.mpf, a.split(','))\n"
                  "    p = mpmath.betainc(d2 / 2, d1 / 2, 0, d2 / (d2 + d1 * x), regularized=True)\n"
                  "    print(mpmath.nstr(-mpmath.log10(p), 20))\n";
    }
    std::vector<std::string> args = {"-c", script.str()};
    for (const FCase& c : cases) {
        std::ostringstream arg;
        arg.precision(17);
        arg << c.f << "," << c.df1 << "," << c.df2;
        args.push_back(arg.str());
    }
    const hosttest::Outcome outcome = hosttest::runProgram("/usr/bin/python3", args);
    if (outcome.status != 0) throw std::runtime_error("python failed: " + outcome.err);
    std::istringstream lines(outcome.out);
    std::vector<double> values;
    for (double v; lines >> v;) values.push_back(v);
    return values;
}

TEST(FTestSignificance, MatchesScipyWherePIsANormalDouble) {
    const std::vector<FCase> cases = {{0.5, 6, 139},   {2.0, 6, 139},  {2.0, 26, 160}, {3.7, 1, 10},
                                      {12.5, 30, 200}, {80.0, 18, 95}, {1e-6, 3, 50},  {250.0, 5, 40}};
    const std::vector<double> expected = pythonReference(cases, "scipy");
    ASSERT_EQ(expected.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const double got = negLog10FTailProbability(cases[i].f, cases[i].df1, cases[i].df2);
        EXPECT_NEAR(got, expected[i], 1e-9 * std::max(1.0, expected[i]))
            << "F(" << cases[i].df1 << ", " << cases[i].df2 << ") = " << cases[i].f;
    }
}

// The F maps' lower threshold of 2 means very different p-values by df.
TEST(FTestSignificance, TheSameFMeansDifferentPByDegreesOfFreedom) {
    EXPECT_NEAR(std::pow(10.0, -negLog10FTailProbability(2.0, 6, 139)), 0.0696, 5e-4);
    EXPECT_NEAR(std::pow(10.0, -negLog10FTailProbability(2.0, 26, 160)), 0.0049, 2e-4);
}

TEST(FTestSignificance, StaysFiniteAndAccurateWherePUnderflows) {
    // p from about 1e-290 (Boost) down to far below the smallest double (the series).
    const std::vector<FCase> cases = {{400.0, 30, 200}, {2000.0, 30, 200}, {1e5, 30, 200},
                                      {1e8, 6, 139},    {3e6, 26, 160},    {1e30, 2, 20}};
    const std::vector<double> expected = pythonReference(cases, "mpmath");
    ASSERT_EQ(expected.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const double got = negLog10FTailProbability(cases[i].f, cases[i].df1, cases[i].df2);
        EXPECT_TRUE(std::isfinite(got));
        EXPECT_NEAR(got, expected[i], 1e-9 * expected[i])
            << "F(" << cases[i].df1 << ", " << cases[i].df2 << ") = " << cases[i].f;
    }
    // Some cases lie beyond the smallest double, where the series answers.
    EXPECT_GE(std::count_if(expected.begin(), expected.end(), [](double v) { return v > 308.0; }), 3);
}

TEST(FTestSignificance, EdgeValues) {
    EXPECT_EQ(negLog10FTailProbability(0.0, 4, 40), 0.0);
    EXPECT_EQ(negLog10FTailProbability(-3.0, 4, 40), 0.0);
    EXPECT_TRUE(std::isnan(negLog10FTailProbability(std::nan(""), 4, 40)));
    const double infinite = negLog10FTailProbability(std::numeric_limits<double>::infinity(), 4, 40);
    EXPECT_TRUE(std::isfinite(infinite));
    EXPECT_EQ(infinite, negLog10FTailProbability(std::numeric_limits<float>::max(), 4, 40));
    // Larger F, smaller p, on both sides of the underflow.
    EXPECT_LT(negLog10FTailProbability(1e3, 30, 200), negLog10FTailProbability(2e3, 30, 200));
}

std::vector<double> negLog10(const std::vector<double>& p) {
    std::vector<double> out;
    for (const double v : p) out.push_back(-std::log10(v));
    return out;
}

// m = 10, q = 0.05: the k-th smallest p is compared with 0.005 k. 0.001 <= 0.005
// and 0.008 <= 0.010 pass; 0.039 > 0.015, 0.041 > 0.020, ..., 0.216 > 0.050 all
// fail, so k = 2 and the cut is p = 0.008.
TEST(BenjaminiHochberg, CutsAtTheLargestPassingRank) {
    const FdrCut cut =
        benjaminiHochberg(negLog10({0.041, 0.008, 0.212, 0.001, 0.039, 0.06, 0.074, 0.205, 0.042, 0.216}), 0.05);
    EXPECT_EQ(cut.tested, 10);
    EXPECT_EQ(cut.surviving, 2);
    ASSERT_TRUE(cut.negLog10PThreshold.has_value());
    EXPECT_NEAR(*cut.negLog10PThreshold, -std::log10(0.008), 1e-12);
}

// Step-up: m = 4, q = 0.05 compares with 0.0125, 0.025, 0.0375, 0.05. The
// second (0.03 > 0.025) fails, the third (0.035 <= 0.0375) passes, so three
// survive although a rank below them failed.
TEST(BenjaminiHochberg, StepsUpPastAFailingRank) {
    const FdrCut cut = benjaminiHochberg(negLog10({0.9, 0.035, 0.01, 0.03}), 0.05);
    EXPECT_EQ(cut.surviving, 3);
    EXPECT_NEAR(*cut.negLog10PThreshold, -std::log10(0.035), 1e-12);
    // At q = 0.02 (0.005, 0.01, 0.015, 0.02) none passes.
    const FdrCut none = benjaminiHochberg(negLog10({0.9, 0.035, 0.01, 0.03}), 0.02);
    EXPECT_EQ(none.surviving, 0);
    EXPECT_FALSE(none.negLog10PThreshold.has_value());
}

TEST(BenjaminiHochberg, NaNCountsAsPOneAndTinyPStayExact) {
    // p = 1e-400 cannot be a double; its -log10 can.
    const FdrCut cut = benjaminiHochberg({400.0, std::nan(""), 0.0}, 0.05);
    EXPECT_EQ(cut.tested, 3);
    EXPECT_EQ(cut.surviving, 1);
    EXPECT_EQ(*cut.negLog10PThreshold, 400.0);
    EXPECT_EQ(benjaminiHochberg({}, 0.05).surviving, 0);
    EXPECT_THROW(benjaminiHochberg({1.0}, 0.0), std::invalid_argument);
    EXPECT_THROW(benjaminiHochberg({1.0}, 1.0), std::invalid_argument);
}

} // namespace
