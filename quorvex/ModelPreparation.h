// What the voxel loop needs of each model, computed once per run.
#pragma once

#include "design/SDMFile.h"
#include "linalg/Matrix.h"
#include "linalg/Vector.h"

// 0.0 everywhere, 1.0 from firstConfoundPredictor-1 to nrOfPredictors-2 (the
// trailing constant is never a confound). Throws std::runtime_error naming the
// design file when firstConfoundPredictor is below 1.
Vector confoundSelector(const SDMFile& record);

// (X'X)^-1 X'; throws "Matrix inversion failed" when X'X cannot be inverted.
Matrix pseudoInverse(const Matrix& X);
