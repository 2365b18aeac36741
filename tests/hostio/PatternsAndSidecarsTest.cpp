// Glob patterns of column names, the pipeline's JSON sidecar of a confounds
// table, and where records and sidecars are found beside their files.
#include <gtest/gtest.h>

#include "host/formats/HostErrors.h"
#include "host/research/DesignRecord.h"
#include "host/research/GlobPattern.h"
#include "host/research/PipelineSidecar.h"

namespace {

using corvantis::globMatches;

TEST(GlobPattern, MatchesWholeNamesAsShellsDo) {
    EXPECT_TRUE(globMatches("a_comp_cor_0*", "a_comp_cor_03"));
    EXPECT_TRUE(globMatches("a_comp_cor_0*", "a_comp_cor_0"));
    EXPECT_FALSE(globMatches("a_comp_cor_0*", "a_comp_cor_10"));
    EXPECT_FALSE(globMatches("a_comp_cor_0*", "xa_comp_cor_03"));
    EXPECT_TRUE(globMatches("*_power2", "csf_derivative1_power2"));
    EXPECT_TRUE(globMatches("*cor*0?", "t_comp_cor_01"));
    EXPECT_FALSE(globMatches("*cor*0?", "t_comp_cor_0"));
    EXPECT_TRUE(globMatches("cosine0[0-2]", "cosine02"));
    EXPECT_FALSE(globMatches("cosine0[0-2]", "cosine03"));
    EXPECT_TRUE(globMatches("cosine0[!0-2]", "cosine03"));
    EXPECT_FALSE(globMatches("cosine0[!0-2]", "cosine01"));
    EXPECT_TRUE(globMatches("rot_[xz]", "rot_z"));
    EXPECT_FALSE(globMatches("rot_[xz]", "rot_y"));
    EXPECT_TRUE(globMatches("odd[name", "odd[name")); // an unclosed set stands for itself
    EXPECT_TRUE(globMatches("*", ""));
    EXPECT_FALSE(globMatches("?", ""));
    // Backtracking over many stars stays quick and right.
    EXPECT_FALSE(globMatches("*a*a*a*a*a*a*a*a*b", std::string(60, 'a')));
    EXPECT_TRUE(corvantis::isGlobPattern("a_comp_cor_0*"));
    EXPECT_FALSE(corvantis::isGlobPattern("white_matter"));
}

std::string refusal(const std::string& text) {
    try {
        corvantis::parsePipelineSidecar(text, "s.json");
    } catch (const corvantis::DocumentError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(PipelineSidecar, ReadsEachComponentsMaskAndVariance) {
    const corvantis::PipelineSidecar s = corvantis::parsePipelineSidecar(
        R"({"a_comp_cor_00": {"Method": "aCompCor", "Mask": "CSF", "VarianceExplained": 0.25,
             "CumulativeVarianceExplained": 0.25, "Retained": true, "SingularValue": 12.5},
            "dropped_3": {"Retained": false}, "cosine00": {"Cutoff period": 128}, "Notes": "text"})",
        "s.json");
    const corvantis::ComponentMetadata* a = s.find("a_comp_cor_00");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->method, "aCompCor");
    EXPECT_EQ(a->mask, "CSF");
    EXPECT_EQ(a->varianceExplained, 0.25);
    EXPECT_EQ(a->cumulativeVarianceExplained, 0.25);
    EXPECT_EQ(a->retained, true);
    EXPECT_EQ(s.find("dropped_3")->retained, false);
    EXPECT_FALSE(s.find("cosine00")->varianceExplained);
    EXPECT_EQ(s.find("Notes"), nullptr);
    EXPECT_EQ(s.find("a_comp_cor_01"), nullptr);
}

TEST(PipelineSidecar, RefusesWhatItCannotRead) {
    EXPECT_EQ(refusal("[1, 2]"),
              "\"s.json\" holds no JSON object; a confounds sidecar maps column names to what "
              "they are");
    EXPECT_EQ(refusal(R"({"a_comp_cor_00": {"Mask": 3}})"),
              "\"s.json\", column \"a_comp_cor_00\": \"Mask\" holds 3, "
              "not a text");
    EXPECT_EQ(refusal(R"({"a_comp_cor_00": {"VarianceExplained": "0.2"}})"),
              "\"s.json\", column \"a_comp_cor_00\": \"VarianceExplained\" holds \"0.2\", not a number");
    EXPECT_EQ(refusal(R"({"a_comp_cor_00": {"Retained": 1}})"),
              "\"s.json\", column \"a_comp_cor_00\": \"Retained\" holds 1, not true or false");
    EXPECT_EQ(refusal(R"({"a": )").rfind("\"s.json\" is not JSON: ", 0), 0u);
}

TEST(DesignFiles, RecordsAndSidecarsAreNamedAfterTheirFiles) {
    EXPECT_EQ(corvantis::designRecordPath("out/m2.sdm"), "out/m2.json");
    EXPECT_EQ(corvantis::designRecordPath("m2.design"), "m2.design.json");
    EXPECT_EQ(corvantis::sidecarPathOfTable("d/sub-01_desc-confounds_timeseries.tsv"),
              "d/sub-01_desc-confounds_timeseries.json");
    EXPECT_EQ(corvantis::sidecarPathOfTable("confounds.txt"), "confounds.txt.json");
}

} // namespace
