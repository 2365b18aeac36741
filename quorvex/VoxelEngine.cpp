#include "quorvex/VoxelEngine.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "quorvex/CacheLineAllocator.h"

namespace {

KernelModel kernelModel(const PreparedModel& m, int32_t n) {
    const float nf = static_cast<float>(n);
    const float p = static_cast<float>(m.X.cols());
    return KernelModel{m.P.data(), m.X.data(), m.confoundSelector.data(), m.X.cols(), p, adjustedR2Factor(nf, p)};
}

BlockProblem blockProblem(const PreparedModel (&models)[2], int32_t n, float threshold) {
    BlockProblem pr{};
    pr.n = n;
    pr.threshold = threshold;
    pr.nf = static_cast<float>(n);
    pr.nMinusOne = static_cast<float>(n - 1);
    pr.model[0] = kernelModel(models[0], n);
    pr.model[1] = kernelModel(models[1], n);
    pr.hasF = pr.model[1].pf != pr.model[0].pf;
    pr.dp = pr.model[1].pf - pr.model[0].pf;
    pr.df2 = pr.nf - pr.model[1].pf;
    return pr;
}

// The rows of a block's buffers, each blockWidth floats (a multiple of 64 bytes
// from AVX2 on).
using Rows = std::vector<float, CacheLineAllocator<float>>;

// The buffers of one block, owned for the whole run.
class BlockWorkspace {
public:
    BlockWorkspace(int32_t width, int32_t n, int32_t maxP)
        : width_(width),
          y_(static_cast<size_t>(n) * width),
          beta_(static_cast<size_t>(maxP) * width),
          selectedBeta_(beta_.size()),
          cleaned_{Rows(y_.size()), Rows(y_.size())},
          results_(static_cast<size_t>(kBlockResultRows) * width),
          passing_(static_cast<size_t>(width)),
          laneMinima_(static_cast<size_t>(width)) {}

    // Row r of the block's results (r a BlockResultRow, model i's as kTSNR1 + i).
    const float* result(int32_t r) const { return results_.data() + static_cast<size_t>(r) * width_; }

    int32_t* passing() { return passing_.data(); }
    float* laneMinima() { return laneMinima_.data(); }

    BlockData data(const float* const* volumes) {
        return BlockData{volumes,
                         0,
                         0,
                         -1,
                         passing_.data(),
                         0,
                         y_.data(),
                         beta_.data(),
                         selectedBeta_.data(),
                         {cleaned_[0].data(), cleaned_[1].data()},
                         {BlockOutput{}, BlockOutput{}},
                         results_.data()};
    }

private:
    int32_t width_;
    Rows y_;
    Rows beta_;
    Rows selectedBeta_;
    Rows cleaned_[2];
    Rows results_; // kBlockResultRows rows, see BlockResultRow
    std::vector<int32_t> passing_;
    Rows laneMinima_;
};

void storeLane(const BlockWorkspace& ws, int32_t lane, int32_t voxel, bool hasF, VoxelLoopResults& results) {
    results.mask.push_back(voxel);
    for (int i = 0; i < 2; ++i) {
        results.tSNR[i][voxel] = ws.result(kTSNR1 + i)[lane];
        results.r2adj[i][voxel] = ws.result(kR2adj1 + i)[lane];
    }
    if (hasF) {
        results.F[voxel] = ws.result(kF)[lane];
    }
}

// The first kept model writes into the run's data in place; a second kept
// model's values wait in their own list, with room for `room` voxels in
// each volume's row. Returns the first kept model, or -1.
int placeOutputs(float* const* data, int64_t room, const bool (&keepResiduals)[2], std::vector<float*>& pendingRows,
                 VoxelLoopResults& results, BlockData& block) {
    const int firstKept = keepResiduals[0] ? 0 : keepResiduals[1] ? 1 : -1;
    if (firstKept < 0) return firstKept;
    block.out[firstKept] = BlockOutput{data, 0, false, 0};
    if (firstKept == 0 && keepResiduals[1]) {
        ResidualCourses& pending = results.residuals[1];
        pending.holdByVolume(room);
        for (int32_t v = 0; v < pending.length(); ++v) pendingRows.push_back(pending.volumeRow(v));
        block.out[1] = BlockOutput{pendingRows.data(), 0, true, room};
    }
    return firstKept;
}

} // namespace

VoxelLoopResults runBlockEngine(float* const* data, int32_t n, VolumeSize dim, float threshold,
                                const PreparedModel (&models)[2], const bool (&keepResiduals)[2],
                                const VoxelKernels& kernels) {
    VoxelLoopResults results(dim, n);
    const int32_t voxelCount = dim.x * dim.y * dim.z;
    const int32_t width = kernels.blockWidth;

    // Each block's minima come with its load, so the data is read from
    // memory once. The list that waits for model 2 needs room for the mask
    // before the loop: every masked voxel's first value is above the
    // threshold, so counting those in volume 0 bounds it.
    int64_t room = 0;
    if (keepResiduals[0] && keepResiduals[1]) {
        for (int32_t l = 0; l < voxelCount; ++l) room += data[0][l] > threshold ? 1 : 0;
    }

    const BlockProblem problem = blockProblem(models, n, threshold);
    BlockWorkspace ws(width, n, std::max(problem.model[0].p, problem.model[1].p));
    BlockData block = ws.data(data);
    std::vector<float*> pendingRows;
    const int firstKept = placeOutputs(data, room, keepResiduals, pendingRows, results, block);
    const bool compact[2] = {block.out[0].compact, block.out[1].compact};

    for (int32_t first = 0; first < voxelCount; first += width) {
        const int32_t lanes = std::min(width, voxelCount - first);
        block.first = first;
        block.lanes = lanes;
        // Only a whole next block is prefetched: its last value must lie in the volume.
        block.next = voxelCount - first >= 2 * width ? first + width : -1;
        kernels.load(problem, block, ws.laneMinima());
        int32_t count = 0;
        for (int32_t j = 0; j < lanes; ++j) {
            if (ws.laneMinima()[j] > threshold) ws.passing()[count++] = j; // a NaN minimum fails
        }
        if (count == 0) continue;
        block.passingCount = count;
        // In place the block's lanes are at its voxels; in a list its passing
        // voxels follow the ones before them in mask order.
        const int64_t before = static_cast<int64_t>(results.mask.size());
        if (compact[1] && before + count > room) {
            // Cannot happen (a masked voxel's first value is above the
            // threshold); stops a list overflow if it ever did, though the
            // data written so far stays written.
            throw std::logic_error("the voxel mask outgrew the room of model 2's list");
        }
        for (int i = 0; i < 2; ++i) block.out[i].offset = compact[i] ? before : first;
        kernels.block(problem, block);
        for (int32_t k = 0; k < count; ++k)
            storeLane(ws, ws.passing()[k], first + ws.passing()[k], problem.hasF, results);
    }
    const int64_t masked = static_cast<int64_t>(results.mask.size());
    if (firstKept >= 0) results.residuals[firstKept].markInRunData(masked);
    if (compact[1]) results.residuals[1].keepFirst(masked);
    return results;
}
