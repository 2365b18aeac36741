// The significance of a voxel's F test between nested models: -log10 of its
// upper-tail p-value, and the false-discovery-rate cut over all voxels tested.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace corvantis {

// -log10 P(F(df1, df2) > f). Where the double p-value is at least the smallest
// normal double it is Boost.Math's complement of the F distribution; beyond,
// where p would underflow to 0, the logarithm of the tail is taken from the
// regularized incomplete beta's series, I_x(df2/2, df1/2) with
// x = df2 / (df2 + df1 f), summed in logarithms, so the value stays finite and
// accurate. An infinite f counts as the largest float. f at or below 0 gives 0;
// NaN gives NaN. df1 and df2 must be positive.
double negLog10FTailProbability(double f, double df1, double df2);

// Benjamini-Hochberg over the tested voxels' -log10(p): the largest k for which
// the k-th smallest p is at most k q / m (m the voxels tested) sets the cut;
// the k voxels with the smallest p survive. NaN values count as p = 1.
struct FdrCut {
    int64_t tested = 0;
    int64_t surviving = 0;
    // -log10 of the k-th smallest p; none when no voxel survives.
    std::optional<double> negLog10PThreshold;
};

// q in (0, 1). Throws std::invalid_argument otherwise.
FdrCut benjaminiHochberg(std::vector<double> negLog10P, double q);

} // namespace corvantis
