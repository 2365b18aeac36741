// The AVX-512 block kernels: sixteen voxels per register, 32 registers for
// larger tiles. This unit alone is compiled with -mavx512f, which in GCC
// brings FMA along; -ffp-contract=off keeps every product separate from its
// sum, as the bit-identity tests check. Only called after
// cpuSupports(SimdLevel::avx512).
#include <immintrin.h>

#include "quorvex/VoxelBlockKernel.h"

namespace {

struct Avx512Lanes {
    using Vec = __m512;
    static constexpr int registers = 32;
    static constexpr int width = 16;
    static Vec load(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, Vec v) { _mm512_storeu_ps(p, v); }
    static Vec broadcast(const float* p) { return _mm512_set1_ps(*p); }
    static Vec set(float x) { return _mm512_set1_ps(x); }
    static Vec add(Vec a, Vec b) { return _mm512_add_ps(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm512_sub_ps(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm512_mul_ps(a, b); }
    static Vec div(Vec a, Vec b) { return _mm512_div_ps(a, b); }
    // The zero-masking forms with every lane selected: the plain ones leave
    // GCC 12 warning about the undefined vector they start from.
    static constexpr __mmask16 kAll = 0xFFFF;
    static Vec sqrt(Vec a) { return _mm512_maskz_sqrt_ps(kAll, a); }
    // vminps(x, m) yields x only when x < m, so NaN never replaces m: the
    // rule "replace when m > x" of Vector::min.
    static Vec runningMin(Vec m, Vec x) { return _mm512_maskz_min_ps(kAll, x, m); }
    // Whether a > b in any lane (false for NaN).
    static bool anyGreater(Vec a, Vec b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ) != 0; }
    // value where a > b (ordered: false for NaN), else +0.0.
    static Vec greaterOrZero(Vec value, Vec a, Vec b) {
        return _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(a, b, _CMP_GT_OQ), value);
    }
};

using Kernel = voxelkernels::BlockKernel<Avx512Lanes, 1>;

} // namespace

const VoxelKernels& avx512VoxelKernels() {
    static const VoxelKernels kernels{Kernel::BW, &Kernel::load, &Kernel::block};
    return kernels;
}
