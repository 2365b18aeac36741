// The benchmark's runs, generated deterministically; bench/peer_numpy.py
// generates the same time courses with the same formulas.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quorvex/VoxelStatistics.h"

struct Workload {
    std::string name;
    int32_t dimX, dimY, dimZ, n;
    int32_t p1, p2; // predictors of model 1 and 2, constant included
    float threshold;
};

// W1, W2, W3 of the benchmark; throws std::invalid_argument for other names.
Workload workloadNamed(const std::string& name);

int32_t voxelCount(const Workload& w);

// Volume after volume: value (v, l) at v * voxelCount + l.
std::vector<float> timeCourses(const Workload& w);

// Both models: X (boxcars of interest, then confounds, then the constant),
// its pseudo-inverse and the selector of the confounds.
void prepareModels(const Workload& w, PreparedModel (&models)[2]);

// Writes n, p1, p2 and each model's X, P and selector (column-major float32)
// for the numpy peer.
void writeModels(const std::string& path, int32_t n, const PreparedModel (&models)[2]);
