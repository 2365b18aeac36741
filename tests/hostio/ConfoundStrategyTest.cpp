// The strategy grammar: presets, components with their options, custom
// columns, what is refused, and the help generated from the presets' table.
#include <gtest/gtest.h>

#include "host/research/ConfoundStrategy.h"

namespace {

using corvantis::parseConfoundStrategy;

std::string refusal(const std::string& text) {
    try {
        parseConfoundStrategy(text);
    } catch (const corvantis::StrategyError& e) {
        return e.what();
    }
    return "(accepted)";
}

const char kValid[] =
    "; the presets are 6P, 9P, 24P, 36P, simple, scrubbing, compcor; the components are motion, "
    "wm_csf, global_signal, compcor, high_pass, scrub, non_steady_state; any other item names a "
    "table column or a glob pattern of columns";

TEST(ConfoundStrategy, PresetsExpandToTheirComponents) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"6P", "motion=basic"},
        {"9P", "motion=basic,wm_csf=basic,global_signal=basic"},
        {"24P", "motion=full"},
        {"36P", "motion=full,wm_csf=full,global_signal=full"},
        {"simple", "motion=full,wm_csf=basic,high_pass"},
        {"scrubbing", "motion=full,wm_csf=full,high_pass,scrub=fd:0.5:dvars:1.5:segment:5"},
        {"compcor", "motion=full,compcor=anat_combined:0.5,high_pass"},
    };
    ASSERT_EQ(corvantis::strategyPresets().size(), expected.size());
    for (const auto& [name, components] : expected) {
        EXPECT_EQ(parseConfoundStrategy(name).expanded(), components) << name;
    }
}

TEST(ConfoundStrategy, ComponentsTakeLevelsAndOptions) {
    const corvantis::ConfoundStrategy s = parseConfoundStrategy(
        "motion=derivatives, wm_csf=power2,global_signal,compcor=anat_separated:3,scrub=dvars:2:segment:0,"
        "non_steady_state,a_comp_cor_0*,csf_wm");
    EXPECT_EQ(s.motion, corvantis::ExpansionLevel::Derivatives);
    EXPECT_EQ(s.wmCsf, corvantis::ExpansionLevel::Power2);
    EXPECT_EQ(s.globalSignal, corvantis::ExpansionLevel::Basic);
    ASSERT_TRUE(s.compcor);
    EXPECT_EQ(s.compcor->kind, corvantis::CompCorKind::AnatomicalSeparate);
    EXPECT_EQ(s.compcor->components, 3);
    EXPECT_FALSE(s.compcor->varianceFraction);
    ASSERT_TRUE(s.scrub);
    EXPECT_FALSE(s.scrub->framewiseDisplacement);
    EXPECT_EQ(s.scrub->standardizedDvars, 2.0);
    EXPECT_EQ(s.scrub->minimumSegment, 0);
    EXPECT_TRUE(s.nonSteadyState);
    EXPECT_FALSE(s.highPass);
    EXPECT_EQ(s.columns, (std::vector<std::string>{"a_comp_cor_0*", "csf_wm"}));
    EXPECT_EQ(s.expanded(),
              "motion=derivatives,wm_csf=power2,global_signal=basic,compcor=anat_separated:3,"
              "scrub=dvars:2:segment:0,non_steady_state,a_comp_cor_0*,csf_wm");
    EXPECT_EQ(s.text,
              "motion=derivatives, wm_csf=power2,global_signal,compcor=anat_separated:3,"
              "scrub=dvars:2:segment:0,non_steady_state,a_comp_cor_0*,csf_wm");

    // A fraction has a decimal point; a bare scrub takes the usual thresholds.
    const corvantis::ConfoundStrategy t = parseConfoundStrategy("compcor=temporal:0.7,scrub,24P");
    EXPECT_EQ(t.compcor->varianceFraction, 0.7);
    EXPECT_EQ(t.expanded(), "motion=full,compcor=temporal:0.7,scrub=fd:0.5:dvars:1.5:segment:5");
    EXPECT_TRUE(parseConfoundStrategy("scrub=outliers").scrub->tableOutliers);
    EXPECT_EQ(parseConfoundStrategy("simple,global_signal=full").expanded(),
              "motion=full,wm_csf=basic,global_signal=full,high_pass");
}

TEST(ConfoundStrategy, TheExpandedTextReadsBackAsTheSameStrategy) {
    // Thresholds keep every digit; a fraction of 1 keeps the point that tells it from one component.
    const corvantis::ConfoundStrategy s = parseConfoundStrategy("compcor=temporal:1.0,scrub=fd:0.1234567891:dvars:2");
    EXPECT_EQ(s.expanded(), "compcor=temporal:1.0,scrub=fd:0.1234567891:dvars:2:segment:0");
    const corvantis::ConfoundStrategy again = parseConfoundStrategy(s.expanded());
    EXPECT_EQ(again.compcor->varianceFraction, 1.0);
    EXPECT_FALSE(again.compcor->components);
    EXPECT_EQ(again.scrub->framewiseDisplacement, 0.1234567891);
    EXPECT_EQ(again.expanded(), s.expanded());
}

TEST(ConfoundStrategy, RefusesUnknownNamesListingTheValidOnes) {
    EXPECT_EQ(refusal(""), std::string("the strategy is empty") + kValid);
    EXPECT_EQ(refusal("motoin=full"),
              std::string("the strategy item \"motoin=full\" is no preset and no component") + kValid);
    EXPECT_EQ(refusal("24P,,csf"), std::string("the strategy \"24P,,csf\" has an empty item") + kValid);
    EXPECT_EQ(refusal("motion=ful"), "the level of motion is basic, derivatives, power2 or full, not \"ful\"");
    EXPECT_EQ(refusal("24P,motion=basic"), "the strategy gives motion twice");
    EXPECT_EQ(refusal("simple,compcor=temporal:2,high_pass"), "the strategy gives high_pass twice");
    EXPECT_EQ(refusal("csf,csf"), "the strategy gives the column \"csf\" twice");
    EXPECT_EQ(refusal("compcor=anatomical"),
              "compcor is compcor=KIND[:AMOUNT] with KIND anat_combined, "
              "anat_separated or temporal, not \"compcor=anatomical\"");
    EXPECT_EQ(refusal("compcor=temporal:1.5"), "the compcor fraction of variance explained is at most 1, not \"1.5\"");
    EXPECT_EQ(refusal("compcor=temporal:0"),
              "the number of compcor components must be a whole number of at least 1, "
              "not \"0\"");
    EXPECT_EQ(refusal("scrub=fd:-1"), "the scrub threshold fd must be a number above 0, not \"-1\"");
    EXPECT_EQ(refusal("scrub=fd:0.5:fd:0.2"),
              "scrub takes fd, dvars and segment (last), each once, not \"fd\" in \"scrub=fd:0.5:fd:0.2\"");
    EXPECT_EQ(refusal("scrub=segment:5"),
              "scrub needs a threshold, fd or dvars, or the table's outliers (scrub=outliers)");
    EXPECT_EQ(refusal("high_pass=128"), "high_pass takes no options, not \"high_pass=128\"");
    EXPECT_EQ(refusal("motion=full:basic"), "motion takes one level, not \"motion=full:basic\"");
    EXPECT_EQ(refusal("csf:2"), std::string("the strategy item \"csf:2\" is no preset and no component") + kValid);
}

TEST(ConfoundStrategy, TheHelpListsEveryPresetWithItsColumns) {
    const std::string help = corvantis::strategyHelp();
    for (const corvantis::StrategyPreset& preset : corvantis::strategyPresets()) {
        EXPECT_NE(help.find("  " + std::string(preset.name) + " = " + preset.strategy + "\n"), std::string::npos)
            << preset.name;
    }
    EXPECT_NE(help.find("      - white_matter csf, each also as NAME_derivative1, NAME_power2,\n"
                        "        NAME_derivative1_power2 (8 columns)\n"),
              std::string::npos)
        << help;
    EXPECT_NE(help.find("framewise_displacement > 0.5 mm or std_dvars > 1.5"), std::string::npos);
    EXPECT_EQ(corvantis::levelSuffixes(corvantis::ExpansionLevel::Full),
              (std::vector<std::string>{"", "_derivative1", "_power2", "_derivative1_power2"}));
}

} // namespace
