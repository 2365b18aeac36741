#include "host/formats/ConfoundTable.h"

#include <algorithm>
#include <sstream>

#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"
#include "host/formats/TabSeparated.h"

namespace corvantis {

namespace {

std::optional<double> valueOf(const std::string& field, const std::string& where) {
    const std::string text = trimmedField(field);
    if (text == "n/a") return std::nullopt;
    const std::optional<double> value = finiteNumber(text);
    if (!value) {
        throw DocumentError(where + " holds " + inQuotes(field) + ", not a finite number or \"n/a\"");
    }
    return value;
}

} // namespace

const std::vector<std::optional<double>>* ConfoundTable::column(const std::string& name) const {
    const auto first = std::find(names.begin(), names.end(), name);
    if (first == names.end()) return nullptr;
    const auto second = std::find(first + 1, names.end(), name);
    if (second != names.end()) {
        throw DocumentError(inQuotes(path) + " names the column " + inQuotes(name) + " twice (columns " +
                            std::to_string(first - names.begin() + 1) + " and " +
                            std::to_string(second - names.begin() + 1) +
                            "); which of them is meant cannot be told: rename one");
    }
    return &columns[static_cast<std::size_t>(first - names.begin())];
}

ConfoundTable parseConfoundTable(const std::string& text, const std::string& path) {
    std::istringstream in(text.substr(byteOrderMarkLength(text)));
    std::string line;
    if (!std::getline(in, line)) {
        throw DocumentError(inQuotes(path) + ": the table is empty; its first row must name the columns");
    }
    ConfoundTable table;
    table.path = path;
    for (const std::string& name : tabFields(line)) table.names.push_back(trimmedField(name));
    table.columns.resize(table.names.size());
    // Rows are counted as data rows, so a row number is the volume it holds.
    for (std::size_t row = 0; std::getline(in, line);) {
        if (line.empty() || line == "\r") continue;
        ++row;
        const std::vector<std::string> fields = tabFields(line);
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
