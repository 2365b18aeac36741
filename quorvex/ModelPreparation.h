// What the voxel loop needs of each model, computed once per run.
#pragma once

#include <string>

#include "design/SDMFile.h"
#include "linalg/Matrix.h"
#include "linalg/Vector.h"

// 0.0 everywhere, 1.0 from firstConfoundPredictor-1 to nrOfPredictors-2 (the
// trailing constant is never a confound). Throws std::runtime_error naming the
// design file when firstConfoundPredictor is below 1.
Vector confoundSelector(const SDMFile& record);

// Above this residual the float inverse of X'X has lost the digits the fit
// needs, and the model is fitted with the double-precision pseudo-inverse.
constexpr double kInversionResidualLimit = 0.01;

// max over (i, j) of |sum_k G(i, k) Ginverse(k, j) - delta_ij|, every product
// and sum in double, k ascending; NaN as soon as one entry is NaN.
double inversionResidual(const Matrix& G, const Matrix& Ginverse);

struct ModelPseudoInverse {
    Matrix P;             // p x n
    bool doublePrecision; // P is the double-precision pseudo-inverse of X
    double residual;      // inversionResidual of X'X and its float inverse
};

// P = (X'X)^-1 X' with the float inverse, unless its residual exceeds
// kInversionResidualLimit (a NaN residual keeps it): then P is the
// double-precision pseudo-inverse of X rounded to float. Throws "Matrix
// inversion failed" when X'X cannot be inverted.
ModelPseudoInverse prepareModelPseudoInverse(const Matrix& X);

// prepareModelPseudoInverse(X).P.
Matrix pseudoInverse(const Matrix& X);

// The log message for a model fitted with the double-precision pseudo-inverse.
std::string illConditionedMessage(const std::string& designPath, double residual);
