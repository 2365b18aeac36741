#include "host/formats/ConfoundTable.h"

#include <charconv>
#include <cmath>
#include <sstream>

#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"

namespace corvantis {

namespace {

std::vector<std::string> fieldsOf(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// from_chars, not strtod: a table must read the same whatever the locale.
std::optional<double> valueOf(const std::string& field, const std::string& where) {
    const std::string text = trimmed(field);
    if (text == "n/a") return std::nullopt;
    double value = 0.0;
    const char* begin = text.c_str() + (text.size() > 1 && text[0] == '+' ? 1 : 0);
    const char* end = text.c_str() + text.size();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
        throw DocumentError(where + " holds " + inQuotes(field) + ", not a finite number or \"n/a\"");
    }
    return value;
}

} // namespace

const std::vector<std::optional<double>>* ConfoundTable::column(const std::string& name) const {
    for (std::size_t c = 0; c < names.size(); ++c) {
        if (names[c] == name) return &columns[c];
    }
    return nullptr;
}

ConfoundTable parseConfoundTable(const std::string& text, const std::string& path) {
    std::istringstream in(text.substr(byteOrderMarkLength(text)));
    std::string line;
    if (!std::getline(in, line)) {
        throw DocumentError(inQuotes(path) + ": the table is empty; its first row must name the columns");
    }
    ConfoundTable table;
    table.path = path;
    for (const std::string& name : fieldsOf(line)) table.names.push_back(trimmed(name));
    table.columns.resize(table.names.size());
    // Rows are counted as data rows, so a row number is the volume it holds.
    for (std::size_t row = 0; std::getline(in, line);) {
        if (line.empty() || line == "\r") continue;
        ++row;
        const std::vector<std::string> fields = fieldsOf(line);
        const std::string rowName = inQuotes(path) + ": row " + std::to_string(row);
        if (fields.size() != table.names.size()) {
            throw DocumentError(rowName + " has " + std::to_string(fields.size()) + " fields; the header names " +
                                std::to_string(table.names.size()) + " columns");
        }
        for (std::size_t c = 0; c < fields.size(); ++c) {
            table.columns[c].push_back(valueOf(fields[c], rowName + ", column " + inQuotes(table.names[c])));
        }
    }
    return table;
}

ConfoundTable readConfoundTable(const std::string& path) {
    return parseConfoundTable(readTextFile(path, "the table"), path);
}

} // namespace corvantis
