#include "host/formats/TabSeparated.h"

#include <charconv>
#include <cmath>

namespace corvantis {

std::vector<std::string> tabFields(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::string trimmedField(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// from_chars, not strtod: a table must read the same whatever the locale.
std::optional<double> finiteNumber(const std::string& text) {
    double value = 0.0;
    const bool plus = text.size() > 1 && text[0] == '+';
    if (plus && text[1] == '-') return std::nullopt; // "+-1" is no number
    const char* begin = text.c_str() + (plus ? 1 : 0);
    const char* end = text.c_str() + text.size();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

} // namespace corvantis
