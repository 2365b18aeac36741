// Task events to regressors: the events table, and each condition's regressor
// against the closed form of the canonical response convolved with a boxcar,
// computed here with Boost.Math's regularised lower incomplete gamma function.
#include <gtest/gtest.h>

#include <boost/math/special_functions/gamma.hpp>
#include <cmath>

#include "host/formats/EventsTable.h"
#include "host/formats/HostErrors.h"
#include "host/research/HemodynamicResponse.h"
#include "host/research/StrategyDesign.h"

namespace {

using corvantis::EventTiming;
using corvantis::TaskEvent;

// The response's integral from 0 to u (cut at 32 s), divided by its whole integral.
double responseIntegral(double u) {
    const auto integral = [](double x) { return boost::math::gamma_p(6.0, x) - boost::math::gamma_p(16.0, x) / 6.0; };
    if (u <= 0.0) return 0.0;
    return integral(std::min(u, 32.0)) / integral(32.0);
}

double responseDensity(double u) {
    const double whole = boost::math::gamma_p(6.0, 32.0) - boost::math::gamma_p(16.0, 32.0) / 6.0;
    if (u <= 0.0 || u >= 32.0) return 0.0;
    return (boost::math::gamma_p_derivative(6.0, u) - boost::math::gamma_p_derivative(16.0, u) / 6.0) / whole;
}

// The boxcar of events convolved with the response, at time t: the integral of
// the response over the part of each event before t.
double closedForm(const std::vector<TaskEvent>& events, double t, bool derivative) {
    double value = 0.0;
    for (const TaskEvent& e : events) {
        value += derivative ? responseDensity(t - e.onset) - responseDensity(t - e.onset - e.duration)
                            : responseIntegral(t - e.onset) - responseIntegral(t - e.onset - e.duration);
    }
    return value;
}

TEST(CanonicalHrf, IsTheDifferenceOfTwoGammaDensities) {
    // Shape 6 peaks at 5 s; the densities from their closed forms.
    const double t = 5.0;
    const double peak = std::pow(t, 5) * std::exp(-t) / 120.0;
    const double undershoot = std::pow(t, 15) * std::exp(-t) / 1307674368000.0;
    EXPECT_NEAR(corvantis::doubleGamma(t), peak - undershoot / 6.0, 1e-15);
    EXPECT_EQ(corvantis::doubleGamma(0.0), 0.0);
    EXPECT_EQ(corvantis::doubleGamma(-1.0), 0.0);
    EXPECT_EQ(corvantis::doubleGamma(32.0), 0.0);
    const double h = 1e-6;
    for (double u : {1.0, 4.9, 7.3, 15.0}) {
        EXPECT_NEAR(corvantis::doubleGammaDerivative(u),
                    (corvantis::doubleGamma(u + h) - corvantis::doubleGamma(u - h)) / (2 * h), 1e-8)
            << u;
    }
}

TEST(EventRegressors, FollowTheClosedFormAtTheMiddleOfEachVolume) {
    // Blocks of varied length and onsets off the fine grid, one before the run.
    const std::vector<TaskEvent> events = {{-3.3, 4.0, "go"},   {6.1, 2.0, "go"},  {20.05, 12.5, "go"},
                                           {47.3, 0.9, "go"},   {48.7, 3.0, "go"}, {80.0, 5.0, "stop"},
                                           {100.0, 40.0, "go"}, {155.9, 1.0, "go"}};
    const EventTiming timing{2.0, 80};
    const std::vector<double> regressor = corvantis::conditionRegressor(events, "go", timing, false);
    const std::vector<double> slope = corvantis::conditionRegressor(events, "go", timing, true);
    std::vector<TaskEvent> go;
    for (const TaskEvent& e : events) {
        if (e.condition == "go") go.push_back(e);
    }
    ASSERT_EQ(regressor.size(), 80u);
    for (int32_t k = 0; k < 80; ++k) {
        const double t = corvantis::volumeTime(timing, k);
        EXPECT_EQ(t, 2.0 * k + 1.0);
        // The midpoint rule on a grid of TR/16 s: errors of the order of (TR/16)^2 of the response's curvature.
        EXPECT_NEAR(regressor[static_cast<std::size_t>(k)], closedForm(go, t, false), 2e-4) << "volume " << k;
        EXPECT_NEAR(slope[static_cast<std::size_t>(k)], closedForm(go, t, true), 2e-4) << "volume " << k;
    }
    // 35 s into a 40 s block the whole response is in: the regressor is its integral, 1.
    EXPECT_NEAR(regressor[67], 1.0, 1e-4);
}

TEST(EventRegressors, AtAnotherTrAndForImpulses) {
    const EventTiming timing{0.72, 300};
    const std::vector<TaskEvent> blocks = {{10.0, 15.0, "a"}, {61.37, 7.77, "a"}, {150.0, 20.0, "a"}};
    const std::vector<double> regressor = corvantis::conditionRegressor(blocks, "a", timing, false);
    for (int32_t k = 0; k < 300; ++k) {
        EXPECT_NEAR(regressor[static_cast<std::size_t>(k)], closedForm(blocks, corvantis::volumeTime(timing, k), false),
                    2e-4)
            << k;
    }
    // An impulse weighs one second: near an event of 1 s at the same onset (on the grid).
    const std::vector<TaskEvent> impulse = {{9.0, 0.0, "a"}};
    const std::vector<double> spike = corvantis::conditionRegressor(impulse, "a", timing, false);
    for (int32_t k = 0; k < 100; ++k) {
        const double t = corvantis::volumeTime(timing, k);
        EXPECT_NEAR(spike[static_cast<std::size_t>(k)], responseDensity(t - 9.0), 2e-3) << k;
    }
}

TEST(EventRegressors, RefuseATrTheGridCannotServe) {
    const std::vector<TaskEvent> one = {{1.0, 2.0, "a"}};
    const std::vector<std::pair<double, std::string>> refused = {
        {0.001, "0.001"}, {1000.0, "1000"}, {std::nan(""), "nan"}};
    for (const auto& [tr, text] : refused) {
        try {
            corvantis::conditionRegressor(one, "a", EventTiming{tr, 10}, false);
            FAIL() << tr;
        } catch (const corvantis::DocumentError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "a TR of " + text + " s is outside the 0.01 to 100 s that event regressors are made for");
        }
    }
    EXPECT_EQ(corvantis::conditionRegressor(one, "a", EventTiming{100.0, 3}, false).size(), 3u);
}

corvantis::EventsTable events(const std::string& text) { return corvantis::parseEventsTable(text, "e.tsv"); }

std::string refusal(const std::string& text) {
    try {
        events(text);
    } catch (const corvantis::DocumentError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(EventsTable, ReadsOnsetsDurationsAndConditionsWhateverElseTheRowsHold) {
    const corvantis::EventsTable t =
        events("onset\tduration\ttrial_type\tresponse_time\n1.5\t2\tstop\tn/a\n10\t0\tgo\t0.41\n20\t2.5\tgo\tn/a\n");
    ASSERT_EQ(t.events.size(), 3u);
    EXPECT_EQ(t.events[0].onset, 1.5);
    EXPECT_EQ(t.events[2].duration, 2.5);
    EXPECT_EQ(t.conditions(), (std::vector<std::string>{"go", "stop"}));
    EXPECT_EQ(events("duration\tonset\n1\t2\n").events[0].condition, "events");
    EXPECT_EQ(events("duration\tonset\n1\t2\n").events[0].onset, 2.0);
}

TEST(EventsTable, RefusesWhatIsNotAnEvent) {
    EXPECT_EQ(refusal("onset\ttrial_type\n1\tgo\n"),
              "\"e.tsv\": an events table names the columns \"onset\" and \"duration\" (seconds) in its first row");
    EXPECT_EQ(refusal("onset\tduration\ttrial_type\nn/a\t1\tgo\n"),
              "\"e.tsv\": row 1, column \"onset\" holds \"n/a\", not a finite number of seconds");
    EXPECT_EQ(refusal("onset\tduration\ttrial_type\n1\t-1\tgo\n"),
              "\"e.tsv\": row 1, column \"duration\" holds \"-1\"; a duration is not negative");
    EXPECT_EQ(refusal("onset\tduration\ttrial_type\n1\t1\tn/a\n"),
              "\"e.tsv\": row 1, column \"trial_type\" holds \"n/a\", not the name of a condition");
    EXPECT_EQ(refusal("onset\tduration\ttrial_type\n1\t1\n"),
              "\"e.tsv\": row 1 has 2 fields; the header names 3 columns");
    EXPECT_EQ(refusal("onset\tduration\n"), "\"e.tsv\" lists no events below its header");
    EXPECT_EQ(refusal(""), "\"e.tsv\": the events table is empty; its first row must name the columns");
}

TEST(EventRegressors, ConditionsComeFirstSortedWithTheirDerivatives) {
    corvantis::DesignInputs inputs;
    inputs.tables = {corvantis::parseConfoundTable(
        "x\n" +
            [] {
                std::string rows;
                for (int t = 0; t < 40; ++t) rows += std::to_string((t * 7) % 5) + "\n";
                return rows;
            }(),
        "c.tsv")};
    inputs.events = events("onset\tduration\ttrial_type\n4\t2\tstop\n10\t3\tgo\n40\t3\tgo\n");
    inputs.tr = 2.0;
    inputs.hrfDerivative = true;
    inputs.interest = {"x"};
    const corvantis::BuiltDesign built = corvantis::buildStrategyDesign(inputs, corvantis::ConfoundStrategy{});
    EXPECT_EQ(built.table.names,
              (std::vector<std::string>{"go", "go_derivative", "stop", "stop_derivative", "x", "Constant"}));
    EXPECT_EQ(built.table.firstConfoundPredictor, 6);
    EXPECT_EQ(built.columns[0].source, "events");
    EXPECT_EQ(built.columns[0].transformation, "boxcar of its events convolved with the canonical HRF");

    inputs.tr.reset();
    try {
        corvantis::buildStrategyDesign(inputs, corvantis::ConfoundStrategy{});
        FAIL();
    } catch (const corvantis::DocumentError& e) {
        EXPECT_STREQ(e.what(), "the events of \"e.tsv\" need the run's repetition time (TR) to become regressors");
    }
    inputs.tr = 2.0;
    inputs.events = events("onset\tduration\ttrial_type\n4\t2\tgo\n500\t3\tlate\n");
    try {
        corvantis::buildStrategyDesign(inputs, corvantis::ConfoundStrategy{});
        FAIL();
    } catch (const corvantis::DocumentError& e) {
        EXPECT_STREQ(e.what(),
                     "the condition \"late\" of \"e.tsv\" has no event within reach of the run's 40 volumes "
                     "(TR 2 s); its regressor would be zero");
    }
}

} // namespace
