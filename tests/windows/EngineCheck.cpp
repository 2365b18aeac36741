// Every block engine variant this processor supports against the reference
// voxel loop, bit for bit, as cross-built for Windows: the kernels of the
// DLL run here exactly as compiled there (GoogleTest is not cross-built).
// Exit status 0 when every variant matches.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "quorvex/CpuFeatures.h"
#include "quorvex/VoxelLoop.h"
#include "tests/quorvex/RandomModel.h"

namespace {

constexpr int32_t kN = 40;
const VolumeSize kDim{13, 7, 3}; // 273 voxels: no multiple of any block width
constexpr float kThreshold = 100.0f;

std::vector<float> randomRun(uint32_t seed) {
    const int32_t voxels = kDim.x * kDim.y * kDim.z;
    std::vector<float> values(static_cast<size_t>(kN) * voxels);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int32_t l = 0; l < voxels; ++l) {
        const uint32_t kind = rng() % 12;
        const float base = kind < 8 ? 1000.0f : 20.0f;
        for (int32_t v = 0; v < kN; ++v) values[static_cast<size_t>(v) * voxels + l] = base + 25.0f * unit(rng);
        const size_t later = static_cast<size_t>(1 + rng() % (kN - 1)) * voxels + l;
        if (kind == 8) values[later] = std::numeric_limits<float>::quiet_NaN();
        if (kind == 9) values[later] = kThreshold; // exactly the threshold: fails, when above elsewhere
        if (kind == 10) values[later] = std::numeric_limits<float>::infinity();
        if (kind == 9 || kind == 10)
            for (int32_t v = 0; v < kN; ++v) {
                float& x = values[static_cast<size_t>(v) * voxels + l];
                if (x < kThreshold) x += 1000.0f;
            }
    }
    return values;
}

// Equal bits, or both NaN (a NaN's payload may come from either operand).
bool same(const float* a, const float* b, size_t count) {
    for (size_t k = 0; k < count; ++k) {
        if (std::memcmp(a + k, b + k, sizeof(float)) != 0 && !(std::isnan(a[k]) && std::isnan(b[k]))) return false;
    }
    return true;
}

// The loop, then each kept model's courses written into the run, model 1 first.
struct Outcome {
    VoxelLoopResults results;
    std::vector<float> data[2]; // the run after each model's write
};

Outcome runAndWrite(std::vector<float> values, const PreparedModel (&models)[2], const bool (&keep)[2],
                    VoxelLoopPath path) {
    std::vector<float*> volumes;
    for (int32_t v = 0; v < kN; ++v)
        volumes.push_back(values.data() + static_cast<size_t>(v) * kDim.x * kDim.y * kDim.z);
    Outcome o{runVoxelLoop(volumes.data(), kN, kDim, kThreshold, models, keep, path), {}};
    for (int i = 0; i < 2; ++i) {
        if (keep[i]) o.results.residuals[i].writeInto(volumes.data(), o.results.mask);
        o.data[i] = values;
    }
    return o;
}

// The run's data is compared after each kept model's write and at the end
// (a fast path writes its first kept model during the loop).
bool matches(const Outcome& e, const Outcome& a, const bool (&keep)[2]) {
    if (e.results.mask != a.results.mask) return false;
    for (int i = 0; i < 2; ++i) {
        if (!same(e.results.tSNR[i].data(), a.results.tSNR[i].data(), e.results.tSNR[i].count()) ||
            !same(e.results.r2adj[i].data(), a.results.r2adj[i].data(), e.results.r2adj[i].count()))
            return false;
        if ((keep[i] || i == 1) && !same(e.data[i].data(), a.data[i].data(), e.data[i].size())) return false;
    }
    return same(e.results.F.data(), a.results.F.data(), e.results.F.count());
}

} // namespace

int main() {
    const std::vector<float> values = randomRun(7u);
    const PreparedModel models[2] = {randomModel(kN, 11, 4, 8u), randomModel(kN, 34, 4, 9u)};
    const bool settings[4][2] = {{false, false}, {true, false}, {false, true}, {true, true}};
    const struct {
        const char* name;
        VoxelLoopPath path;
        SimdLevel level;
    } variants[] = {{"SSE2", VoxelLoopPath::sse2, SimdLevel::sse2},
                    {"AVX2", VoxelLoopPath::avx2, SimdLevel::avx2},
                    {"AVX-512", VoxelLoopPath::avx512, SimdLevel::avx512}};
    int failures = 0;
    for (const auto& v : variants) {
        if (!cpuSupports(v.level)) {
            std::printf("%s: not supported here\n", v.name);
            continue;
        }
        bool all = true;
        for (const auto& keep : settings) {
            all = all && matches(runAndWrite(values, models, keep, VoxelLoopPath::reference),
                                 runAndWrite(values, models, keep, v.path), keep);
        }
        std::printf("%s: %s\n", v.name, all ? "identical to the reference" : "DIFFERENT");
        failures += all ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
