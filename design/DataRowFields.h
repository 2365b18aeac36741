// Splitting one data row of an .sdm file into its fields. Fields are found from
// the decimal points, not from blanks, so that values written with nothing but
// their sign between them ("-1.000000-2.000000") still come apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The index at which each of the n fields of `line` starts: field j runs up to
// the start of field j + 1, the last one to the end of the line. Empty when n is
// not positive or the line does not hold exactly n decimal points.
std::vector<std::size_t> dataRowFieldStarts(const std::string& line, int32_t n);
