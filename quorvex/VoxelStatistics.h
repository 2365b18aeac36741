// The statistics of one voxel under two models: the reference arithmetic, in
// single precision and in the fixed operand order that every faster path must
// reproduce bit for bit.
#pragma once

#include "linalg/Matrix.h"
#include "linalg/Vector.h"

// One model as the voxel loop needs it, prepared once per run.
struct PreparedModel {
    Matrix X;                // n x p design matrix, the constant last
    Matrix P;                // p x n pseudo-inverse (X'X)^-1 X'
    Vector confoundSelector; // 1.0 at the confound positions, 0.0 elsewhere
};

// What one model yields for one voxel.
struct ModelVoxelResult {
    float sse;  // residual sum of squares
    float p;    // number of model columns, as float
    float tSNR; // of the cleaned time course
    float r2adj;
    Vector cleaned; // y minus the model's confound part
};

struct VoxelStatistics {
    ModelVoxelResult model[2]; // model 1 first
    bool hasF;                 // the models' column counts differ
    float F;                   // 0.0 unless hasF
};

// The factor of the adjusted R^2, (n - 1) / ((n - p) - 1), for n time points
// and p model columns (the constant included), both converted to float. The
// reference and the block engine both take it from here.
float adjustedR2Factor(float n, float p);

// y: the voxel's time course (n = y.size() values); models[0] is model 1.
VoxelStatistics computeVoxelStatistics(const Vector& y, const PreparedModel (&models)[2]);
