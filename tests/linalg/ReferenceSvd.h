// A second, deliberately plain decomposition written from the algorithm's
// description: row-major nested vectors, one routine, no shared code with the
// library, so an indexing or ordering slip in either one shows as a bit
// difference.
#pragma once

#include <vector>

using Rows = std::vector<std::vector<float>>;

struct ReferenceSvd {
    bool converged;
    Rows u;
    std::vector<float> w;
    Rows v;
};

ReferenceSvd referenceSvd(Rows a);

// P(i, j) = sum over k with w[k] != 0 of (U(j, k) * V(i, k)) / w[k].
Rows referenceInverse(const ReferenceSvd& d);
