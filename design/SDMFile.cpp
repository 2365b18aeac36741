#include "design/SDMFile.h"

#include <algorithm>
#include <cstddef>

namespace {

// Non-empty, first value not 0.0 and every value equal to the first; a NaN
// anywhere compares unequal, so a NaN-led column is never a constant.
bool isConstantColumn(const std::vector<float>& column) {
    if (column.empty() || column.front() == 0.0f) return false;
    const float first = column.front();
    return std::all_of(column.begin(), column.end(), [first](float v) { return v == first; });
}

template <class T>
void insertFromEnd(std::vector<T>& items, std::size_t fromEnd, const T& item) {
    items.insert(items.end() - static_cast<std::ptrdiff_t>(std::min(fromEnd, items.size())), item);
}

} // namespace

bool SDMFile::lastPredictorIsConstant() const {
    return !predictorValues.empty() && isConstantColumn(predictorValues.back());
}

void SDMFile::addPredictor(const std::vector<float>& values, const std::string& name, int red, int green, int blue) {
    if (static_cast<int64_t>(values.size()) != nrOfDataPoints.value) return;
    const bool lastConstant = lastPredictorIsConstant();
    const bool newConstant = isConstantColumn(values);
    // A model never gets a second trailing constant.
    if (lastConstant && newConstant) return;
    // Confounds go last, but in front of a trailing constant.
    const std::size_t fromEnd = lastConstant ? 1 : 0;
    insertFromEnd(predictorValues, fromEnd, values);
    insertFromEnd(predictorNames, fromEnd, name);
    insertFromEnd(colorBlue, fromEnd, static_cast<int32_t>(blue));
    insertFromEnd(colorGreen, fromEnd, static_cast<int32_t>(green));
    insertFromEnd(colorRed, fromEnd, static_cast<int32_t>(red));
    nrOfPredictors.value = static_cast<int32_t>(predictorValues.size());
    if (newConstant) includesConstant.value = true;
}

void SDMFile::ensureConstant() {
    if (!lastPredictorIsConstant()) {
        const std::size_t points = static_cast<std::size_t>(std::max(nrOfDataPoints.value, 0));
        addPredictor(std::vector<float>(points, 1.0f), "Constant", 255, 255, 255);
    }
    nrOfPredictors.value = static_cast<int32_t>(predictorValues.size());
    includesConstant.value = true;
}
