#include "quorvex/ModelPreparation.h"

#include <stdexcept>
#include <string>

#include "quorvex/Paths.h"

Vector confoundSelector(const SDMFile& record) {
    const int32_t first = record.firstConfoundPredictor.value;
    if (first < 1) {
        throw std::runtime_error(fileNameOf(record.fileName) + " has FirstConfoundPredictor " +
                                 std::to_string(first) + "; the first confound predictor is numbered from 1");
    }
    const int32_t count = record.nrOfPredictors.value;
    Vector selector(count, 0.0f);
    for (int32_t i = first - 1; i <= count - 2; ++i) {
        selector[i] = 1.0f;
    }
    return selector;
}

Matrix pseudoInverse(const Matrix& X) {
    const Matrix Xt = X.transposed();
    const Matrix G = Xt * X;
    const Matrix Ginverse = G.inverse();
    return Ginverse * Xt;
}
