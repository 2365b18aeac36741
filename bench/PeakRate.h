// This core's rate of independent vector multiplies and adds (no FMA), the
// ceiling the voxel engine's separate products and sums can reach.
#pragma once

// Floating-point operations per second of thread CPU time, each lane of each
// multiply or add counting one; best of a few short runs.
double peakRateSse2();
double peakRateAvx2();   // call only where AVX2 is supported
double peakRateAvx512(); // call only where AVX-512F is supported
