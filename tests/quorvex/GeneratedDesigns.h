// Realistic generated designs and voxel time courses of n = 300 volumes: two
// block-design task regressors convolved with a haemodynamic response,
// random-walk motion parameters (mm and radians) with derivatives and
// squares, discrete cosine drifts, a raw linear trend and the constant.
// Everything is drawn from mt19937, whose output the standard fixes.
#pragma once

#include <cstdint>
#include <vector>

#include "linalg/Matrix.h"
#include "linalg/Vector.h"

namespace gendesign {

using Column = std::vector<double>;

constexpr int32_t kVolumes = 300;

struct Regressors {
    Column task[2];
    Column motion[6]; // three translations in mm, three rotations in radians
    Column cosine[5]; // cos(pi k (t + 0.5) / n), k = 1 ... 5
    Column trend;     // 0, 1, ..., n - 1
};

Regressors makeRegressors(uint32_t seed);

// motion scaled by factor, then the backward differences (0 first) and the
// squares of both: 24 columns when withExpansion, else the 6 parameters.
std::vector<Column> motionColumns(const Regressors& r, double factor, bool withExpansion);

// A design: its columns (the constant last) and the 0-based first confound.
struct Design {
    std::vector<Column> columns;
    int32_t firstConfound; // columns firstConfound ... p - 2 are confounds
};

Design tasksOnly(const Regressors& r);                       // 2 task + constant
Design tasksAndCosines(const Regressors& r);                 // 2 task + 5 cosines + constant
Design motionAndCosines(const Regressors& r, double factor); // 2 task + 6 motion + 5 cosines + constant
Design motionAndTrend(const Regressors& r);                  // 2 task + 6 motion + trend + constant
Design expandedMotionAndCosines(const Regressors& r);        // 2 task + 24 motion + 5 cosines + constant

// The design as float matrix (n x p) and its confound selector.
Matrix matrixOf(const Design& d);
Vector selectorOf(const Design& d);

// Time courses rounded to float: baseline near 1000, task responses, motion
// artefacts, slow drift and noise.
std::vector<Vector> voxelTimeCourses(const Regressors& r, int32_t count, uint32_t seed);

} // namespace gendesign
