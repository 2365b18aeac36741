// The make-sdm table reader on arbitrary bytes: a DocumentError, or a table
// with one name per column and every column as long as the others, whose
// columns are found by name unless two share it (then refused).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzScratch.h"
#include "host/formats/ConfoundTable.h"
#include "host/formats/HostErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    corvantis::ConfoundTable table;
    try {
        table = corvantis::parseConfoundTable(text, "fuzz.tsv");
    } catch (const corvantis::DocumentError&) {
        return 0;
    }
    if (table.names.size() != table.columns.size()) {
        fuzzing::broken("the table has " + std::to_string(table.names.size()) + " names for " +
                        std::to_string(table.columns.size()) + " columns");
    }
    for (const auto& column : table.columns) {
        if (column.size() != table.rows()) {
            fuzzing::broken("the table's columns differ in length");
        }
    }
    for (const std::string& name : table.names) {
        const bool twice = std::count(table.names.begin(), table.names.end(), name) > 1;
        try {
            if (table.column(name) == nullptr) fuzzing::broken("a named column cannot be found by its name");
            if (twice) fuzzing::broken("a name of two columns finds one of them");
        } catch (const corvantis::DocumentError&) {
            if (!twice) fuzzing::broken("a name of one column is refused");
        }
    }
    return 0;
}
