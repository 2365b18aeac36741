// The text of an .fmr file: one "Key: value" per line, blank lines and lines
// starting with '#' ignored, as is a UTF-8 byte-order mark before the first
// line. Every key is kept in its order, known or not, so a saved document
// writes back what it read.
#pragma once

#include <string>
#include <vector>

namespace corvantis {

struct FmrEntry {
    std::string key;
    std::string value;
};

class FmrText {
public:
    // Throws DocumentError naming sourceName and the line for a line that is not
    // "Key: value" or a key given twice.
    static FmrText parse(const std::string& text, const std::string& sourceName);

    // Null when the key is absent.
    const std::string* find(const std::string& key) const;
    // Replaces the value in place, or appends the key at the end.
    void set(const std::string& key, const std::string& value);
    // Throws SaveError when a key or value holds a line break (a value set from
    // a path, say), which the text cannot keep.
    std::string format() const;
    const std::vector<FmrEntry>& entries() const { return entries_; }

private:
    std::vector<FmrEntry> entries_;
};

} // namespace corvantis
