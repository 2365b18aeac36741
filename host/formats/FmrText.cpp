#include "host/formats/FmrText.h"

#include <sstream>

#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"

namespace corvantis {

namespace {

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// Read back, an entry ends at its '\n' and loses a '\r' at either end of its key
// or value (as of a line ending in "\r\n"); a '\r' inside reads back as it was.
bool readsBack(const std::string& text) {
    return text.find('\n') == std::string::npos && (text.empty() || (text.front() != '\r' && text.back() != '\r'));
}

std::string where(const std::string& sourceName, int line) {
    return inQuotes(sourceName) + ", line " + std::to_string(line);
}

} // namespace

FmrText FmrText::parse(const std::string& text, const std::string& sourceName) {
    FmrText result;
    std::istringstream lines(text.substr(byteOrderMarkLength(text)));
    std::string raw;
    int lineNumber = 0;
    while (std::getline(lines, raw)) {
        ++lineNumber;
        const std::string line = trimmed(raw);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::size_t colon = line.find(':');
        const std::string key = colon == std::string::npos ? std::string() : trimmed(line.substr(0, colon));
        if (key.empty()) {
            throw DocumentError(where(sourceName, lineNumber) + ": expected \"Key: value\", found " + inQuotes(line));
        }
        // Only the text's first bytes may be a byte-order mark: one starting a key
        // would be taken for the mark when the key is saved first, and lost.
        if (byteOrderMarkLength(key) != 0) {
            throw DocumentError(where(sourceName, lineNumber) + ": the key " + inQuotes(key) +
                                " starts with a byte-order mark");
        }
        if (result.find(key) != nullptr) {
            throw DocumentError(where(sourceName, lineNumber) + ": the key " + inQuotes(key) +
                                " is given a second time");
        }
        result.entries_.push_back({key, trimmed(line.substr(colon + 1))});
    }
    return result;
}

const std::string* FmrText::find(const std::string& key) const {
    for (const FmrEntry& entry : entries_) {
        if (entry.key == key) {
            return &entry.value;
        }
    }
    return nullptr;
}

void FmrText::set(const std::string& key, const std::string& value) {
    for (FmrEntry& entry : entries_) {
        if (entry.key == key) {
            entry.value = value;
            return;
        }
    }
    entries_.push_back({key, value});
}

std::string FmrText::format() const {
    std::string text;
    for (const FmrEntry& entry : entries_) {
        // Written, a line break would end the entry early and the file would not read back.
        if (!readsBack(entry.key) || !readsBack(entry.value)) {
            throw SaveError("the .fmr entry " + inQuotes(entry.key) + " holds a line break (" + inQuotes(entry.value) +
                            "), which an .fmr file cannot keep");
        }
        text += entry.key + ": " + entry.value + "\n";
    }
    return text;
}

} // namespace corvantis
