#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "host/core/DialogScript.h"
#include "host/core/Parameters.h"

namespace {

using corvantis::parseFloatParameter;
using corvantis::parseIntParameter;

TEST(IntParameter, ReadsDecimalIntegers) {
    EXPECT_EQ(parseIntParameter("1"), 1);
    EXPECT_EQ(parseIntParameter("-42"), -42);
    EXPECT_EQ(parseIntParameter("+7"), 7);
    EXPECT_EQ(parseIntParameter(" 12 "), 12);
    EXPECT_EQ(parseIntParameter("007"), 7);
    EXPECT_EQ(parseIntParameter("2147483647"), 2147483647);
    EXPECT_EQ(parseIntParameter("-2147483648"), -2147483647 - 1);
}

TEST(IntParameter, AnythingElseIsZero) {
    for (const char* text : {"", "  ", "abc", "12abc", "1.0", "0x1f", "2147483648", "-2147483649",
                             "99999999999999999999", "- 3", "true"}) {
        EXPECT_EQ(parseIntParameter(text), 0) << '"' << text << '"';
    }
}

TEST(FloatParameter, ReadsFloatsAndGivesZeroForTheRest) {
    EXPECT_EQ(parseFloatParameter("100"), 100.0f);
    EXPECT_EQ(parseFloatParameter("0.1"), 0.1f);
    EXPECT_EQ(parseFloatParameter(" -2.5e3 "), -2500.0f);
    EXPECT_TRUE(std::isinf(parseFloatParameter("inf")));
    EXPECT_EQ(parseFloatParameter(""), 0.0f);
    EXPECT_EQ(parseFloatParameter("high"), 0.0f);
    EXPECT_EQ(parseFloatParameter("1.5x"), 0.0f);
}

TEST(HostBuffer, CopiesAtMost511BytesAndANul) {
    char buffer[520];
    std::memset(buffer, '#', sizeof buffer);
    corvantis::copyToHostBuffer(std::string(600, 'a'), buffer);
    EXPECT_EQ(std::strlen(buffer), 511u);
    EXPECT_EQ(buffer[512], '#'); // nothing written past the 512 bytes
    corvantis::copyToHostBuffer("short", buffer);
    EXPECT_STREQ(buffer, "short");
    EXPECT_EQ(buffer[6], 'a');
}

TEST(Parameters, LaterSettingsReplaceEarlierOnes) {
    corvantis::Parameters parameters;
    EXPECT_EQ(parameters.find("task"), nullptr);
    parameters.set("task", "start");
    parameters.set("task", "");
    ASSERT_NE(parameters.find("task"), nullptr);
    EXPECT_EQ(*parameters.find("task"), "");
}

TEST(DialogScript, ReadsOnlyParamLines) {
    const std::string script =
        "// Quorvex dialog\n"
        "param(\"fmr_threshold\", \"100\");\n"
        "  param ( \"tSNR1\" , \"1\" ) ;  \r\n"
        "param(\"sdmfile1\", \"C:\\\\data\\\\a \\\"b\\\".sdm\");\n"
        "var x = param(\"ignored\", \"1\");\n"
        "param(\"unfinished\", \"1\")\n"
        "param(\"one\");\n"
        "param(\"empty\", \"\");\n";
    const std::vector<corvantis::ParameterDefault> defaults = corvantis::parseDialogDefaults(script);
    EXPECT_EQ(defaults,
              (std::vector<corvantis::ParameterDefault>{
                  {"fmr_threshold", "100"}, {"tSNR1", "1"}, {"sdmfile1", "C:\\data\\a \"b\".sdm"}, {"empty", ""}}));
}

} // namespace
