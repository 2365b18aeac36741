// The AVX2 block kernels: eight voxels per register. This unit alone is
// compiled with -mavx2 (never -mfma: products must stay separate from sums);
// it is only called after cpuSupports(SimdLevel::avx2).
#include <immintrin.h>

#include "quorvex/VoxelBlockKernel.h"

namespace {

struct Avx2Lanes {
    using Vec = __m256;
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
    // value where a > b (ordered: false for NaN), else +0.0.
    static Vec greaterOrZero(Vec value, Vec a, Vec b) {
        return _mm256_and_ps(_mm256_cmp_ps(a, b, _CMP_GT_OQ), value);
    }
    // Rows to columns of an 8 x 8 tile: pairs, then quads within each
    // 128-bit half, then the halves.
    static void transpose(Vec (&r)[8]) {
        Vec t[8];
        for (int i = 0; i < 8; i += 2) {
            t[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);
            t[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
        }
        Vec s[8];
        for (int i = 0; i < 8; i += 4) {
            s[i] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(1, 0, 1, 0));
            s[i + 1] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(3, 2, 3, 2));
            s[i + 2] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(1, 0, 1, 0));
            s[i + 3] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(3, 2, 3, 2));
        }
        for (int i = 0; i < 4; ++i) {
            r[i] = _mm256_permute2f128_ps(s[i], s[i + 4], 0x20);
            r[i + 4] = _mm256_permute2f128_ps(s[i], s[i + 4], 0x31);
        }
    }
};

using Kernel = voxelkernels::BlockKernel<Avx2Lanes, 2>;

}  // namespace

const VoxelKernels& avx2VoxelKernels() {
    static const VoxelKernels kernels{Kernel::BW, &Kernel::minima, &Kernel::block};
    return kernels;
}
