#include "design/DesignMatrix.h"

#include <cstddef>

Matrix designMatrix(const SDMFile& record) {
    const int32_t extra = record.lastPredictorIsConstant() ? 0 : 1;
    const int32_t rows = record.nrOfDataPoints.value;
    const int32_t predictors = record.nrOfPredictors.value;
    // The extra column, when there is one, keeps the fill value 1.0.
    Matrix x(rows, predictors + extra, 1.0f);
    for (int32_t t = 0; t < rows; ++t) {
        for (int32_t j = 0; j < predictors; ++j) {
            x(t, j) = record.predictorValues[static_cast<std::size_t>(j)][static_cast<std::size_t>(t)];
        }
    }
    return x;
}
