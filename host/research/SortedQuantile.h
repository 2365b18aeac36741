// The quantile of sorted values, interpolated linearly between the order
// statistics on either side: what the summaries of maps and of studies report.
#pragma once

#include <vector>

namespace corvantis {

// The value at fraction (0..1) of the way from the first to the last of sorted,
// which must not be empty.
double sortedQuantile(const std::vector<double>& sorted, double fraction);

} // namespace corvantis
