// The arithmetic of the block voxel engine, one variant per instruction set.
// A block holds blockWidth consecutive voxels, one per vector lane; every lane
// follows the reference operation order of computeVoxelStatistics exactly.
// Only raw pointers cross this interface: the variant units are compiled
// with their own target flags and must not share inline library code.
#pragma once

#include <cstdint>

// One model as the kernels read it.
struct KernelModel {
    const float* P;        // p x n, column-major
    const float* X;        // n x p, column-major
    const float* selector; // p values
    int32_t p;
    float pf;         // float(p)
    float adjustment; // adjustedR2Factor(float(n), float(p)), the reference's
};

struct BlockProblem {
    int32_t n;
    float threshold; // a voxel passes when its minimum is greater
    float nf;        // float(n)
    float nMinusOne; // float(n - 1), the stdDev divisor
    KernelModel model[2];
    bool hasF;
    float dp;  // p2 - p1
    float df2; // n - p2
};

// Where one model's cleaned values of a block go: at time point t the k-th
// passing lane's value goes to rows[t] + offset + k when compact, else to
// rows[t] + offset + (its lane).
struct BlockOutput {
    float* const* rows; // n rows, or null when the model's courses are not kept
    int64_t offset;
    bool compact;
    int64_t rowLength; // values per row, when compact
};

// The per-lane results of a block: one row of blockWidth floats each, in this
// order, in one buffer of kBlockResultRows rows.
enum BlockResultRow : int32_t { kSse1, kSse2, kTSNR1, kTSNR2, kR2adj1, kR2adj2, kF, kBlockResultRows };

// One block: its voxels in the run and its buffers; "row" t of a buffer holds
// the blockWidth lanes of time point t.
struct BlockData {
    const float* const* volumes; // the run: n pointers
    int32_t first;               // the block's first voxel
    int32_t lanes;               // voxels in the block; lanes past them are zero
    int32_t next;                // the following block's first voxel, or -1 at the end
    const int32_t* passing;      // the lanes that pass the mask, ascending
    int32_t passingCount;
    float* Y;            // n rows, filled by load
    float* beta;         // p rows (the larger p of the two models)
    float* selectedBeta; // p rows
    float* cleaned[2];   // n rows per model
    BlockOutput out[2];
    float* results; // kBlockResultRows rows, see BlockResultRow
};

struct VoxelKernels {
    int32_t blockWidth;
    // Fills data.Y and minima[j] = min over v of lane j, as Vector::min forms
    // it; where no lane's first value is above the threshold, only row 0 and
    // those first values (no lane passes either way).
    void (*load)(const BlockProblem& problem, const BlockData& data, float* minima);
    void (*block)(const BlockProblem& problem, const BlockData& data);
};

const VoxelKernels& sse2VoxelKernels();
const VoxelKernels& avx2VoxelKernels();
const VoxelKernels& avx512VoxelKernels();
