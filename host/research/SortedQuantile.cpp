#include "host/research/SortedQuantile.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace corvantis {

double sortedQuantile(const std::vector<double>& sorted, double fraction) {
    const double position = fraction * static_cast<double>(sorted.size() - 1);
    const std::size_t below = static_cast<std::size_t>(std::floor(position));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (position - static_cast<double>(below)) * (sorted[above] - sorted[below]);
}

} // namespace corvantis
