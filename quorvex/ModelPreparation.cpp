#include "quorvex/ModelPreparation.h"

#include <cmath>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "linalg/DoublePseudoInverse.h"
#include "quorvex/Paths.h"

Vector confoundSelector(const SDMFile& record) {
    const int32_t first = record.firstConfoundPredictor.value;
    if (first < 1) {
        throw std::runtime_error(fileNameOf(record.fileName) + " has FirstConfoundPredictor " + std::to_string(first) +
                                 "; the first confound predictor is numbered from 1");
    }
    const int32_t count = record.nrOfPredictors.value;
    Vector selector(count, 0.0f);
    for (int32_t i = first - 1; i <= count - 2; ++i) {
        selector[i] = 1.0f;
    }
    return selector;
}

double inversionResidual(const Matrix& G, const Matrix& Ginverse) {
    const int32_t n = G.rows();
    double residual = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            double sum = 0.0;
            for (int32_t k = 0; k < n; ++k) {
                sum = sum + static_cast<double>(G(i, k)) * static_cast<double>(Ginverse(k, j));
            }
            const double deviation = std::fabs(sum - (i == j ? 1.0 : 0.0));
            if (std::isnan(deviation)) {
                return std::numeric_limits<double>::quiet_NaN();
            }
            if (deviation > residual) {
                residual = deviation;
            }
        }
    }
    return residual;
}

ModelPseudoInverse prepareModelPseudoInverse(const Matrix& X) {
    const Matrix Xt = X.transposed();
    const Matrix G = Xt * X;
    const Matrix Ginverse = G.inverse();
    const double residual = inversionResidual(G, Ginverse);
    if (residual > kInversionResidualLimit) {
        // A decomposition that does not converge in double leaves the float
        // route, the best there is.
        std::optional<Matrix> accurate = doublePseudoInverse(X);
        if (accurate) {
            return {*accurate, true, residual};
        }
    }
    return {Ginverse * Xt, false, residual};
}

Matrix pseudoInverse(const Matrix& X) { return prepareModelPseudoInverse(X).P; }

std::string illConditionedMessage(const std::string& designPath, double residual) {
    std::ostringstream text;
    text << ">  Design " << fileNameOf(designPath) << " is ill-conditioned for single precision (residual " << residual
         << "); fitted with a double-precision pseudo-inverse";
    return text.str();
}
