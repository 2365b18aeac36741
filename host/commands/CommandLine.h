// A small command-line reader shared by the sub-commands: "--name VALUE" or
// "--name=VALUE" for options that take a value, "--name" for switches, "--"
// ends the options, everything else is an operand. "--help" is always known.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvantis {

// A mistake in the command line: reported with the command's help, exit status 2.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

struct OptionSpec {
    std::string name; // without the leading "--"
    bool takesValue;
};

struct ParsedOption {
    std::string name;
    std::string value;
};

struct CommandLine {
    std::vector<ParsedOption> options; // in the order given
    std::vector<std::string> operands;
    bool helpRequested = false;

    bool has(const std::string& name) const;
    // Every value of a repeatable option, in order.
    std::vector<std::string> values(const std::string& name) const;
    // The last value given; an option given twice keeps the later one.
    std::optional<std::string> value(const std::string& name) const;
};

// Throws UsageError for an unknown option or a missing value.
CommandLine parseCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

// A whole decimal int32 (sign allowed); nullopt otherwise.
std::optional<int32_t> parseInt32(const std::string& text);

// Splits at every separator: "2.8.0" by '.' gives {"2", "8", "0"}.
std::vector<std::string> splitAt(const std::string& text, char separator);

} // namespace corvantis
