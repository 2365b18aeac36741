#include <gtest/gtest.h>

#include "host/commands/CommandLine.h"

namespace {

using corvantis::CommandLine;
using corvantis::UsageError;

const std::vector<corvantis::OptionSpec> kSpecs = {{"set", true}, {"fmr", true}, {"map-null", false}};

TEST(CommandLineParse, OptionsOperandsAndTheirOrder) {
    const CommandLine line = corvantis::parseCommandLine(
        {"--set", "a=1", "start", "--set=b=2", "--map-null", "", "--", "--fmr", "-x"}, kSpecs);
    EXPECT_EQ(line.values("set"), (std::vector<std::string>{"a=1", "b=2"}));
    EXPECT_EQ(line.value("set"), std::optional<std::string>("b=2"));
    EXPECT_TRUE(line.has("map-null"));
    EXPECT_FALSE(line.has("fmr"));
    EXPECT_EQ(line.operands, (std::vector<std::string>{"start", "", "--fmr", "-x"}));
    EXPECT_FALSE(line.helpRequested);
    EXPECT_TRUE(corvantis::parseCommandLine({"x", "--help"}, kSpecs).helpRequested);
}

TEST(CommandLineParse, MistakesAreUsageErrors) {
    EXPECT_THROW(corvantis::parseCommandLine({"--sett", "a"}, kSpecs), UsageError);
    EXPECT_THROW(corvantis::parseCommandLine({"--fmr"}, kSpecs), UsageError);
    EXPECT_THROW(corvantis::parseCommandLine({"--map-null=1"}, kSpecs), UsageError);
    EXPECT_THROW(corvantis::parseCommandLine({"-q"}, kSpecs), UsageError);
    try {
        corvantis::parseCommandLine({"--unknown=5"}, kSpecs);
    } catch (const UsageError& error) {
        EXPECT_STREQ(error.what(), "unknown option --unknown");
    }
}

TEST(CommandLineNumbers, WholeInt32Only) {
    EXPECT_EQ(corvantis::parseInt32("-1"), -1);
    EXPECT_EQ(corvantis::parseInt32("2147483647"), 2147483647);
    EXPECT_EQ(corvantis::parseInt32("2147483648"), std::nullopt);
    EXPECT_EQ(corvantis::parseInt32("1x"), std::nullopt);
    EXPECT_EQ(corvantis::parseInt32(" 1"), std::nullopt);
    EXPECT_EQ(corvantis::parseInt32(""), std::nullopt);
    EXPECT_EQ(corvantis::splitAt("2.8.-1", '.'), (std::vector<std::string>{"2", "8", "-1"}));
    EXPECT_EQ(corvantis::splitAt("1,,", ','), (std::vector<std::string>{"1", "", ""}));
}

} // namespace
