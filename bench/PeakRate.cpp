#include "bench/PeakRate.h"

#include <immintrin.h>

#include <time.h>

#include <algorithm>

namespace {

constexpr long kIterations = 20000000;
constexpr int kChains = 6; // per operation: covers a 3-4 cycle latency on two pipes

// CPU time of this thread, so that other processes on a shared machine do
// not lower the peak.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <class Body>
double bestRate(Body body, double flopsPerIteration) {
    double best = 0.0;
    for (int round = 0; round < 5; ++round) {
        const double start = cpuSeconds();
        const float sink = body();
        const double seconds = cpuSeconds() - start;
        volatile float keep = sink;
        (void)keep;
        best = std::max(best, kIterations * flopsPerIteration / seconds);
    }
    return best;
}

float sse2Body() {
    volatile float one = 1.0f, tiny = 1e-30f;
    const __m128 m = _mm_set1_ps(one), a = _mm_set1_ps(tiny);
    __m128 p[kChains], s[kChains];
    for (int k = 0; k < kChains; ++k) p[k] = s[k] = _mm_set1_ps(static_cast<float>(k + 1));
    for (long i = 0; i < kIterations; ++i) {
        for (int k = 0; k < kChains; ++k) {
            p[k] = _mm_mul_ps(p[k], m);
            s[k] = _mm_add_ps(s[k], a);
        }
    }
    __m128 t = _mm_setzero_ps();
    for (int k = 0; k < kChains; ++k) t = _mm_add_ps(t, _mm_add_ps(p[k], s[k]));
    return _mm_cvtss_f32(t);
}

__attribute__((target("avx2"))) float avx2Body() {
    volatile float one = 1.0f, tiny = 1e-30f;
    const __m256 m = _mm256_set1_ps(one), a = _mm256_set1_ps(tiny);
    __m256 p[kChains], s[kChains];
    for (int k = 0; k < kChains; ++k) p[k] = s[k] = _mm256_set1_ps(static_cast<float>(k + 1));
    for (long i = 0; i < kIterations; ++i) {
        for (int k = 0; k < kChains; ++k) {
            p[k] = _mm256_mul_ps(p[k], m);
            s[k] = _mm256_add_ps(s[k], a);
        }
    }
    __m256 t = _mm256_setzero_ps();
    for (int k = 0; k < kChains; ++k) t = _mm256_add_ps(t, _mm256_add_ps(p[k], s[k]));
    return _mm_cvtss_f32(_mm256_castps256_ps128(t));
}

__attribute__((target("avx512f"))) float avx512Body() {
    volatile float one = 1.0f, tiny = 1e-30f;
    const __m512 m = _mm512_set1_ps(one), a = _mm512_set1_ps(tiny);
    __m512 p[kChains], s[kChains];
    for (int k = 0; k < kChains; ++k) p[k] = s[k] = _mm512_set1_ps(static_cast<float>(k + 1));
    for (long i = 0; i < kIterations; ++i) {
        for (int k = 0; k < kChains; ++k) {
            p[k] = _mm512_mul_ps(p[k], m);
            s[k] = _mm512_add_ps(s[k], a);
        }
    }
    __m512 t = _mm512_setzero_ps();
    for (int k = 0; k < kChains; ++k) t = _mm512_add_ps(t, _mm512_add_ps(p[k], s[k]));
    float lanes[16];
    _mm512_storeu_ps(lanes, t);
    return lanes[0];
}

} // namespace

double peakRateSse2() { return bestRate(sse2Body, 2.0 * kChains * 4); }
double peakRateAvx2() { return bestRate(avx2Body, 2.0 * kChains * 8); }
double peakRateAvx512() { return bestRate(avx512Body, 2.0 * kChains * 16); }
