#include "host/core/DialogScript.h"

#include <algorithm>
#include <optional>
#include <sstream>

namespace corvantis {

namespace {

// Reads one line left to right; every step fails softly so that a line that is
// not a parameter default is simply not one.
class LineReader {
public:
    explicit LineReader(const std::string& line, std::size_t from = 0) : line_(line), at_(from) {}

    bool literal(const std::string& text) {
        skipBlanks();
        if (line_.compare(at_, text.size(), text) != 0) {
            return false;
        }
        at_ += text.size();
        return true;
    }

    std::optional<std::string> quotedText() {
        if (!literal("\"")) {
            return std::nullopt;
        }
        std::string text;
        while (at_ < line_.size()) {
            const char c = line_[at_++];
            if (c == '"') {
                return text;
            }
            if (c == '\\') {
                if (at_ == line_.size()) {
                    return std::nullopt;
                }
                text += unescaped(line_[at_++]);
            } else {
                text += c;
            }
        }
        return std::nullopt;
    }

    bool atEnd() {
        skipBlanks();
        return at_ == line_.size();
    }

private:
    static char unescaped(char c) {
        switch (c) {
        case 'n': return '\n';
        case 't': return '\t';
        default: return c;
        }
    }

    void skipBlanks() {
        while (at_ < line_.size() && (line_[at_] == ' ' || line_[at_] == '\t' || line_[at_] == '\r')) {
            ++at_;
        }
    }

    const std::string& line_;
    std::size_t at_;
};

std::optional<ParameterDefault> parameterDefault(const std::string& line) {
    LineReader reader(line);
    if (!reader.literal("param") || !reader.literal("(")) {
        return std::nullopt;
    }
    std::optional<std::string> name = reader.quotedText();
    if (!name || !reader.literal(",")) {
        return std::nullopt;
    }
    std::optional<std::string> value = reader.quotedText();
    if (!value || !reader.literal(")") || !reader.literal(";") || !reader.atEnd()) {
        return std::nullopt;
    }
    return ParameterDefault(*name, *value);
}

// The task named by a call setStringParameter("task", "name") that starts at from.
std::optional<std::string> taskSetAt(const std::string& line, std::size_t from) {
    LineReader reader(line, from);
    if (!reader.literal("setStringParameter") || !reader.literal("(") || reader.quotedText() != "task" ||
        !reader.literal(",")) {
        return std::nullopt;
    }
    std::optional<std::string> task = reader.quotedText();
    return task && reader.literal(")") ? task : std::nullopt;
}

} // namespace

std::vector<ParameterDefault> parseDialogDefaults(const std::string& script) {
    std::vector<ParameterDefault> defaults;
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
        if (std::optional<ParameterDefault> found = parameterDefault(line)) {
            defaults.push_back(*found);
        }
    }
    return defaults;
}

std::vector<std::string> parseDialogTasks(const std::string& script) {
    std::vector<std::string> tasks;
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
        for (std::size_t at = line.find("setStringParameter"); at != std::string::npos;
             at = line.find("setStringParameter", at + 1)) {
            const std::optional<std::string> task = taskSetAt(line, at);
            if (task && std::find(tasks.begin(), tasks.end(), *task) == tasks.end()) {
                tasks.push_back(*task);
            }
        }
    }
    return tasks;
}

} // namespace corvantis
