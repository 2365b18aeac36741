// The AVX2 block kernels: eight voxels per register. This unit alone is
// compiled with -mavx2 (never -mfma: products must stay separate from sums);
// it is only called after cpuSupports(SimdLevel::avx2).
#include <immintrin.h>

#include "quorvex/VoxelBlockKernel.h"

namespace {

struct Avx2Lanes {
    using Vec = __m256;
    static constexpr int registers = 16;
    static constexpr int width = 8;
    static Vec load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, Vec v) { _mm256_storeu_ps(p, v); }
    static Vec broadcast(const float* p) { return _mm256_broadcast_ss(p); }
    static Vec set(float x) { return _mm256_set1_ps(x); }
    static Vec add(Vec a, Vec b) { return _mm256_add_ps(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm256_sub_ps(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm256_mul_ps(a, b); }
    static Vec div(Vec a, Vec b) { return _mm256_div_ps(a, b); }
    static Vec sqrt(Vec a) { return _mm256_sqrt_ps(a); }
    // vminps(x, m) yields x only when x < m, so NaN never replaces m: the
    // rule "replace when m > x" of Vector::min.
    static Vec runningMin(Vec m, Vec x) { return _mm256_min_ps(x, m); }
    // Whether a > b in any lane (false for NaN).
    static bool anyGreater(Vec a, Vec b) { return _mm256_movemask_ps(_mm256_cmp_ps(a, b, _CMP_GT_OQ)) != 0; }
    // value where a > b (ordered: false for NaN), else +0.0.
    static Vec greaterOrZero(Vec value, Vec a, Vec b) { return _mm256_and_ps(_mm256_cmp_ps(a, b, _CMP_GT_OQ), value); }
};

using Kernel = voxelkernels::BlockKernel<Avx2Lanes, 2>;

} // namespace

const VoxelKernels& avx2VoxelKernels() {
    static const VoxelKernels kernels{Kernel::BW, &Kernel::load, &Kernel::block};
    return kernels;
}
