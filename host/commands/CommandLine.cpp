#include "host/commands/CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace corvantis {

namespace {

const OptionSpec* findSpec(const std::vector<OptionSpec>& specs, const std::string& name) {
    for (const OptionSpec& option : specs) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

bool looksLikeOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

} // namespace

bool CommandLine::has(const std::string& name) const { return value(name).has_value(); }

std::vector<std::string> CommandLine::values(const std::string& name) const {
    std::vector<std::string> found;
    for (const ParsedOption& option : options) {
        if (option.name == name) {
            found.push_back(option.value);
        }
    }
    return found;
}

std::optional<std::string> CommandLine::value(const std::string& name) const {
    const std::vector<std::string> found = values(name);
    if (found.empty()) {
        return std::nullopt;
    }
    return found.back();
}

CommandLine parseCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs) {
    CommandLine result;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || !looksLikeOption(arg)) {
            result.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            result.helpRequested = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const OptionSpec* option = arg.compare(0, 2, "--") == 0 ? findSpec(specs, name) : nullptr;
        if (option == nullptr) {
            throw UsageError("unknown option " + arg.substr(0, equals));
        }
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                throw UsageError("--" + name + " takes no value");
            }
            result.options.push_back({name, std::string()});
        } else if (equals != std::string::npos) {
            result.options.push_back({name, arg.substr(equals + 1)});
        } else if (i + 1 < args.size()) {
            result.options.push_back({name, args[++i]});
        } else {
            throw UsageError("--" + name + " needs a value");
        }
    }
    return result;
}

std::optional<int32_t> parseInt32(const std::string& text) {
    if (text.empty() || text.find_first_of(" \t") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0' || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

} // namespace corvantis
