#include "quorvex/CpuFeatures.h"

bool cpuSupports(SimdLevel level) {
    switch (level) {
    case SimdLevel::sse2:
        return true;
    case SimdLevel::avx2:
        // The feature test also checks that the OS saves the wide registers.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }
    return false;
}

SimdLevel bestSimdLevel() {
    return cpuSupports(SimdLevel::avx2) ? SimdLevel::avx2 : SimdLevel::sse2;
}

const char* simdLevelName(SimdLevel level) {
    return level == SimdLevel::avx2 ? "AVX2" : "SSE2";
}
