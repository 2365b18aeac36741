// The least-squares pseudo-inverse of a float matrix, computed in double and
// rounded to float, for designs whose X'X is too ill-conditioned to invert in
// single precision.
#pragma once

#include <optional>

#include "linalg/Matrix.h"

// For x (n x p): scales each non-zero column to unit Euclidean norm, takes
// the double-precision decomposition of the scaled matrix, drops singular
// values at or below max(n, p) * 2^-52 * (largest singular value), forms
// V diag(1/w) U', undoes the scaling and rounds to float (p x n). Empty when
// the decomposition does not converge.
std::optional<Matrix> doublePseudoInverse(const Matrix& x);
