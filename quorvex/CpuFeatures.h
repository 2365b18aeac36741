// Which vector instruction sets this processor and its operating system let
// the voxel engine use; x86-64 always has SSE2.
#pragma once

enum class SimdLevel { sse2, avx2 };

bool cpuSupports(SimdLevel level);

// The widest level cpuSupports accepts.
SimdLevel bestSimdLevel();

const char* simdLevelName(SimdLevel level);
