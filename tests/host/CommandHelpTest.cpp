// Each command's help describes exactly the options its parser accepts, so the
// two cannot drift apart: an option added to one and not the other fails here.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "host/commands/Command.h"

namespace {

// The options a help text describes: those its "Usage:" line shows in brackets
// and those that start a line of its option list ("  --name" or "  -o, --name").
std::set<std::string> describedOptions(const std::string& help) {
    static const std::regex usageOption(R"(\[--([a-z0-9-]+))");
    static const std::regex listedOption(R"(^  (?:-[a-z], )?--([a-z0-9-]+))");
    std::set<std::string> names;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (line.rfind("Usage:", 0) == 0) {
            for (std::sregex_iterator it(line.begin(), line.end(), usageOption), end; it != end; ++it) {
                names.insert((*it)[1]);
            }
        } else if (std::regex_search(line, match, listedOption)) {
            names.insert(match[1]);
        }
    }
    names.erase("help"); // every command knows it
    return names;
}

TEST(CommandHelp, DescribesExactlyTheOptionsTheCommandAccepts) {
    ASSERT_GE(corvantis::allCommands().size(), 5u);
    for (const corvantis::Command* command : corvantis::allCommands()) {
        ASSERT_NE(command->options, nullptr) << command->name;
        std::set<std::string> accepted;
        for (const corvantis::OptionSpec& option : *command->options) {
            accepted.insert(option.name);
        }
        EXPECT_EQ(describedOptions(command->help), accepted) << "the help of " << command->name;
    }
}

TEST(CommandHelp, TheReaderOfHelpTextsSeesUsageAndListedOptions) {
    const std::string help =
        "Usage: Corvantis x [--size X] [--seed N] DIR\n\nOptions:\n"
        "  --fmr RUN     the run\n  -o, --output F  the file\n"
        "  Corvantis --set a=1 start\n      --deeper   not an option line\n  --help  this\n";
    EXPECT_EQ(describedOptions(help), (std::set<std::string>{"size", "seed", "fmr", "output"}));
}

TEST(CommandHelp, DefaultCommandIsListedAndFoundByName) {
    EXPECT_EQ(corvantis::findCommand("run"), &corvantis::defaultCommand());
    EXPECT_EQ(corvantis::findCommand("no-such-command"), nullptr);
    const std::string help = corvantis::helpText(corvantis::defaultCommand());
    for (const corvantis::Command* command : corvantis::allCommands()) {
        EXPECT_NE(help.find("\n  " + std::string(command->name) + " "), std::string::npos) << command->name;
    }
}

} // namespace
