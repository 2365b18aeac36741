#include "design/DataRowFields.h"

#include <algorithm>

namespace {

std::vector<std::size_t> pointPositions(const std::string& line) {
    std::vector<std::size_t> points;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '.') points.push_back(i);
    }
    return points;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isSign(char c) { return c == '+' || c == '-'; }

// Where the field whose point is at `point` starts, the previous field's point
// being at `previous`. A separating blank wins, then a sign; only digits run
// together fall back to two characters before the point.
std::size_t fieldStartBetween(const std::string& line, std::size_t previous, std::size_t point) {
    for (std::size_t i = point - 1; i > previous; --i) {
        if (isBlank(line[i])) return i + 1;
    }
    for (std::size_t i = point - 1; i > previous; --i) {
        if (isSign(line[i])) return i;
    }
    return point >= 2 ? point - 2 : 0;
}

} // namespace

std::vector<std::size_t> dataRowFieldStarts(const std::string& line, int32_t n) {
    const std::vector<std::size_t> points = pointPositions(line);
    if (n <= 0 || points.size() != static_cast<std::size_t>(n)) return {};
    std::vector<std::size_t> starts(points.size(), 0);
    for (std::size_t j = 1; j < points.size(); ++j) {
        // Points closer than two characters must not make a field run backwards.
        starts[j] = std::max(starts[j - 1], fieldStartBetween(line, points[j - 1], points[j]));
    }
    return starts;
}
