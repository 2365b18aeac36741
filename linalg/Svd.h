// Single-precision scalar helpers of the singular value decomposition
// (Matrix::svd, Matrix::invert and Matrix::inverse are members of Matrix).
#pragma once

namespace linalg {

// sqrt(a*a + b*b) without destructive overflow or underflow, in float.
float pythag(float a, float b);

// |a| when b >= 0, otherwise -|a|.
float sign(float a, float b);

}  // namespace linalg
