// Scalar helpers of the singular value decomposition, and the decomposition
// of a double-precision matrix (Matrix::svd, Matrix::invert and
// Matrix::inverse are members of Matrix). Both precisions run the same routine.
#pragma once

#include <vector>

class DoubleMatrix;

namespace linalg {

// sqrt(a*a + b*b) without destructive overflow or underflow, in the
// argument's precision.
float pythag(float a, float b);
double pythag(double a, double b);

// |a| when b >= 0, otherwise -|a|.
float sign(float a, float b);
double sign(double a, double b);

// Matrix::svd in double: a (m x n) becomes U, w gets the n singular values
// (unsorted), v the n x n right singular vectors; false when a singular value
// does not converge within 30 passes.
bool svd(DoubleMatrix& a, std::vector<double>& w, DoubleMatrix& v);

} // namespace linalg
