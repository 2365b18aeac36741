// Which vector instruction sets this processor and its operating system let
// the voxel engine use; x86-64 always has SSE2.
#pragma once

enum class SimdLevel { sse2, avx2, avx512 };

bool cpuSupports(SimdLevel level);

// The fastest level cpuSupports accepts: the widest, except that AVX2 is
// preferred where the processor splits 512-bit operations in two.
SimdLevel bestSimdLevel();

const char* simdLevelName(SimdLevel level);
