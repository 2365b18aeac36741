// The model matrix X of a design: one row per time point, one column per
// predictor, plus a column of 1.0 at the right when the last predictor is not
// a constant.
#pragma once

#include "design/SDMFile.h"
#include "linalg/Matrix.h"

Matrix designMatrix(const SDMFile& record);
