// A tab-separated table of regressors as preprocessing pipelines write them:
// one header row of column names, then one row per volume; "n/a" marks a value
// that is not defined (the first row of a derivative, for example). A UTF-8
// byte-order mark before the header row is skipped.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvantis {

struct ConfoundTable {
    std::string path;
    std::vector<std::string> names;
    // columns[c][row]; nullopt where the table says "n/a".
    std::vector<std::vector<std::optional<double>>> columns;

    std::size_t rows() const { return columns.empty() ? 0 : columns.front().size(); }
    // Null when the table has no column of that name. Throws DocumentError
    // (naming the table, the column and both positions) when it names two:
    // such a table is read, but a column of that name cannot be used.
    const std::vector<std::optional<double>>* column(const std::string& name) const;
};

// Throws DocumentError naming the file, the row and the column of what is wrong.
ConfoundTable readConfoundTable(const std::string& path);
ConfoundTable parseConfoundTable(const std::string& text, const std::string& path);

} // namespace corvantis
