// The SSE2 block kernels: four voxels per register, the x86-64 baseline.
#include <emmintrin.h>
#include <xmmintrin.h>

#include "quorvex/VoxelBlockKernel.h"

namespace {

struct Sse2Lanes {
    using Vec = __m128;
    static constexpr int registers = 16;
    static constexpr int width = 4;
    static Vec load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, Vec v) { _mm_storeu_ps(p, v); }
    static Vec broadcast(const float* p) { return _mm_set1_ps(*p); }
    static Vec set(float x) { return _mm_set1_ps(x); }
    static Vec add(Vec a, Vec b) { return _mm_add_ps(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm_sub_ps(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm_mul_ps(a, b); }
    static Vec div(Vec a, Vec b) { return _mm_div_ps(a, b); }
    static Vec sqrt(Vec a) { return _mm_sqrt_ps(a); }
    // minps(x, m) yields x only when x < m, so NaN never replaces m: the
    // rule "replace when m > x" of Vector::min.
    static Vec runningMin(Vec m, Vec x) { return _mm_min_ps(x, m); }
    // Whether a > b in any lane (false for NaN).
    static bool anyGreater(Vec a, Vec b) { return _mm_movemask_ps(_mm_cmpgt_ps(a, b)) != 0; }
    // value where a > b (false for NaN), else +0.0.
    static Vec greaterOrZero(Vec value, Vec a, Vec b) { return _mm_and_ps(_mm_cmpgt_ps(a, b), value); }
};

using Kernel = voxelkernels::BlockKernel<Sse2Lanes, 2>;

} // namespace

const VoxelKernels& sse2VoxelKernels() {
    static const VoxelKernels kernels{Kernel::BW, &Kernel::load, &Kernel::block};
    return kernels;
}
