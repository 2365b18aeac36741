// Every block engine variant against the reference voxel loop, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "quorvex/CpuFeatures.h"
#include "quorvex/VoxelLoop.h"
#include "tests/quorvex/RandomModel.h"
#include "tests/support/FloatBits.h"

namespace {

using testsupport::bitsOf;

// Equal bit patterns; two NaNs count as equal whatever their payloads, since
// the compiler may swap the operands of a commutative scalar operation in the
// reference, which picks the other NaN's payload.
::testing::AssertionResult sameFloat(float expected, float actual) {
    if (bitsOf(expected) == bitsOf(actual) || (std::isnan(expected) && std::isnan(actual))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << std::hexfloat << expected << " (0x" << std::hex << bitsOf(expected)
                                         << ") vs " << actual << " (0x" << bitsOf(actual) << ")";
}

struct TestRun {
    int32_t n;
    VolumeSize dim;
    std::vector<float> values; // volume after volume
    std::vector<float*> volumes;

    TestRun(int32_t n_, VolumeSize d) : n(n_), dim(d), values(static_cast<size_t>(n_) * d.x * d.y * d.z) {}
    TestRun(const TestRun& other) : n(other.n), dim(other.dim), values(other.values) {}
    int32_t voxels() const { return dim.x * dim.y * dim.z; }
    float& at(int32_t v, int32_t l) { return values[static_cast<size_t>(v) * voxels() + l]; }
    float* const* data() {
        volumes.clear();
        for (int32_t v = 0; v < n; ++v) volumes.push_back(values.data() + static_cast<size_t>(v) * voxels());
        return volumes.data();
    }
};

// Intensities around 1000 for about two voxels in three, noise around 20
// elsewhere; then special voxels: NaN and infinities at the first and later
// time points, constant courses, values at the threshold.
TestRun randomRun(int32_t n, VolumeSize dim, uint32_t seed) {
    TestRun run(n, dim);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> kind(0, 29);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int32_t l = 0; l < run.voxels(); ++l) {
        const int k = kind(rng);
        const float base = k < 20 ? 1000.0f + 300.0f * unit(rng) : 20.0f;
        for (int32_t v = 0; v < n; ++v) run.at(v, l) = base + 25.0f * unit(rng);
        const int32_t later = n > 1 ? 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(n - 1)) : 0;
        switch (k) {
        case 20: run.at(0, l) = nan; break;
        case 21: run.at(later, l) = nan; break; // ignored by the minimum: the voxel passes
        case 22: run.at(later, l) = inf; break;
        case 23: run.at(later, l) = -inf; break;
        case 24:
            for (int32_t v = 0; v < n; ++v) run.at(v, l) = 1234.5f;
            break;
        case 25: // a minimum of exactly the threshold fails
            for (int32_t v = 0; v < n; ++v) run.at(v, l) = 1000.0f + 25.0f * unit(rng);
            run.at(later, l) = 100.0f;
            break;
        case 28: // a minimum just above it passes
            for (int32_t v = 0; v < n; ++v) run.at(v, l) = 1000.0f + 25.0f * unit(rng);
            run.at(later, l) = std::nextafter(100.0f, 200.0f);
            break;
        case 26:
            for (int32_t v = 0; v < n; ++v) run.at(v, l) = 1000.0f + 1e-4f * static_cast<float>(v % 2);
            break;
        case 27:
            run.at(later, l) = nan;
            run.at(0, l) = 500.0f;
            break;
        default: break;
        }
    }
    return run;
}

void expectSameVolume(const Volume& expected, const Volume& actual, const std::string& what) {
    ASSERT_EQ(expected.count(), actual.count());
    int failures = 0;
    for (int32_t l = 0; l < expected.count() && failures < 5; ++l) {
        const ::testing::AssertionResult same = sameFloat(expected[l], actual[l]);
        if (!same) ++failures;
        EXPECT_TRUE(same) << what << " at voxel " << l;
    }
}

void expectSameValues(const std::vector<float>& expected, const std::vector<float>& actual, const std::string& what) {
    ASSERT_EQ(expected.size(), actual.size());
    int failures = 0;
    for (size_t k = 0; k < expected.size() && failures < 5; ++k) {
        const ::testing::AssertionResult same = sameFloat(expected[k], actual[k]);
        if (!same) ++failures;
        EXPECT_TRUE(same) << what << " at value " << k;
    }
}

void expectSameStatistics(const VoxelLoopResults& expected, const VoxelLoopResults& actual) {
    ASSERT_EQ(expected.mask, actual.mask);
    for (int i = 0; i < 2; ++i) {
        expectSameVolume(expected.tSNR[i], actual.tSNR[i], "tSNR" + std::to_string(i + 1));
        expectSameVolume(expected.r2adj[i], actual.r2adj[i], "r2adj" + std::to_string(i + 1));
        EXPECT_EQ(expected.residuals[i].count(), actual.residuals[i].count()) << "residuals of model " << i + 1;
    }
    expectSameVolume(expected.F, actual.F, "F");
}

// Runs the reference loop and one fast path on copies of a run, then writes
// each kept model's courses into its copy as the residual outputs do, model 1
// first; the copies must agree after every step. The reference loop leaves
// its copy untouched until the first write.
void expectSameRun(const TestRun& run, const PreparedModel (&models)[2], const bool (&keep)[2], VoxelLoopPath path) {
    TestRun expectedRun = run;
    TestRun actualRun = run;
    const VoxelLoopResults expected =
        runVoxelLoop(expectedRun.data(), run.n, run.dim, 100.0f, models, keep, VoxelLoopPath::reference);
    const VoxelLoopResults actual = runVoxelLoop(actualRun.data(), run.n, run.dim, 100.0f, models, keep, path);
    expectSameValues(run.values, expectedRun.values, "data after the reference loop");
    expectSameStatistics(expected, actual);
    if (!keep[0] && !keep[1]) expectSameValues(run.values, actualRun.values, "untouched data");
    for (int i = 0; i < 2; ++i) {
        if (!keep[i]) continue;
        expected.residuals[i].writeInto(expectedRun.data(), expected.mask);
        actual.residuals[i].writeInto(actualRun.data(), actual.mask);
        expectSameValues(expectedRun.values, actualRun.values,
                         "data with the courses of model " + std::to_string(i + 1));
    }
}

struct Case {
    int32_t n;
    VolumeSize dim;
    int32_t p1, first1, p2, first2;
};

void checkCaseOn(VoxelLoopPath path, const Case& c, uint32_t seed) {
    TestRun run = randomRun(c.n, c.dim, seed);
    const PreparedModel models[2] = {randomModel(c.n, c.p1, c.first1, seed + 1),
                                     randomModel(c.n, c.p2, c.first2, seed + 2)};
    const bool switches[4][2] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const auto& keep : switches) {
        SCOPED_TRACE("residuals " + std::to_string(keep[0]) + std::to_string(keep[1]) + ", n " + std::to_string(c.n));
        expectSameRun(run, models, keep, path);
    }
}

// The instruction set a fast path needs, where this processor lacks it.
const char* missingInstructionSet(VoxelLoopPath path) {
    switch (path) {
    case VoxelLoopPath::sse2: return cpuSupports(SimdLevel::sse2) ? nullptr : "SSE2";
    case VoxelLoopPath::avx2: return cpuSupports(SimdLevel::avx2) ? nullptr : "AVX2";
    case VoxelLoopPath::avx512: return cpuSupports(SimdLevel::avx512) ? nullptr : "AVX-512";
    case VoxelLoopPath::fastest:
    case VoxelLoopPath::reference: break;
    }
    return nullptr;
}

// Every test below runs once per fast path; a variant whose instruction set
// this processor lacks is reported as skipped, never as passed.
class VoxelEngine : public ::testing::TestWithParam<VoxelLoopPath> {
protected:
    void SetUp() override {
        if (const char* missing = missingInstructionSet(GetParam())) {
            GTEST_SKIP() << missing << " is not supported by this processor: its engine variant is not tested";
        }
    }
    void checkCase(const Case& c, uint32_t seed) const { checkCaseOn(GetParam(), c, seed); }
};

std::string pathName(const ::testing::TestParamInfo<VoxelLoopPath>& info) {
    switch (info.param) {
    case VoxelLoopPath::sse2: return "sse2";
    case VoxelLoopPath::avx2: return "avx2";
    case VoxelLoopPath::avx512: return "avx512";
    case VoxelLoopPath::fastest: return "fastest";
    case VoxelLoopPath::reference: break;
    }
    return "reference";
}

INSTANTIATE_TEST_SUITE_P(Variants, VoxelEngine,
                         ::testing::Values(VoxelLoopPath::sse2, VoxelLoopPath::avx2, VoxelLoopPath::avx512,
                                           VoxelLoopPath::fastest),
                         pathName);

TEST_P(VoxelEngine, RealisticShapesMatchTheReference) {
    // 7 x 5 x 3 = 105 voxels: no multiple of any block width.
    checkCase({60, {7, 5, 3}, 11, 5, 34, 5}, 11u);
    checkCase({37, {9, 4, 3}, 5, 2, 7, 2}, 12u);
}

TEST_P(VoxelEngine, OddCountsAndSmallRuns) {
    checkCase({13, {3, 3, 3}, 3, 1, 4, 1}, 21u); // 27 voxels
    checkCase({2, {5, 1, 1}, 1, 0, 1, 0}, 22u);  // fewer voxels than one block
    checkCase({1, {17, 1, 1}, 1, 0, 2, 0}, 23u); // one time point: stdDev 0
    checkCase({8, {33, 1, 1}, 7, 2, 3, 1}, 24u); // n = p1 + 1, model 2 smaller
}

TEST_P(VoxelEngine, EqualColumnCountsLeaveFZero) {
    checkCase({24, {11, 3, 1}, 6, 2, 6, 4}, 31u);
    TestRun run = randomRun(24, {11, 3, 1}, 32u);
    const PreparedModel models[2] = {randomModel(24, 6, 2, 33u), randomModel(24, 6, 4, 34u)};
    const bool keep[2] = {true, true};
    {
        const VoxelLoopPath path = GetParam();
        TestRun copy = run; // the engine writes cleaned courses into its run
        const VoxelLoopResults r = runVoxelLoop(copy.data(), 24, {11, 3, 1}, 100.0f, models, keep, path);
        for (int32_t l = 0; l < r.F.count(); ++l) EXPECT_EQ(bitsOf(r.F[l]), 0u);
    }
}

TEST_P(VoxelEngine, NoConfoundsAndManyPredictors) {
    checkCase({50, {6, 6, 2}, 4, 4, 19, 1}, 41u);  // model 1 selects nothing
    checkCase({45, {5, 5, 2}, 40, 3, 13, 2}, 42u); // p close to n
}

TEST_P(VoxelEngine, ManySeeds) {
    for (uint32_t seed = 100; seed < 110; ++seed) {
        const int32_t n = 3 + static_cast<int32_t>(seed % 29);
        const int32_t p1 = 1 + static_cast<int32_t>(seed % 7);
        const int32_t p2 = 1 + static_cast<int32_t>((seed * 5) % 13);
        checkCase({n, {static_cast<int32_t>(seed % 13) + 1, 3, 2}, p1, 1, p2, 2}, seed);
    }
}

TEST_P(VoxelEngine, PartialMaskBlocks) {
    // Alternating voxels below and above the threshold: every block is partial.
    TestRun run = randomRun(20, {37, 2, 1}, 51u);
    for (int32_t l = 0; l < run.voxels(); l += 2)
        for (int32_t v = 0; v < 20; ++v) run.at(v, l) = 50.0f;
    const PreparedModel models[2] = {randomModel(20, 5, 1, 52u), randomModel(20, 9, 1, 53u)};
    TestRun copy = run;
    const bool none[2] = {false, false};
    const VoxelLoopResults expected =
        runVoxelLoop(copy.data(), 20, {37, 2, 1}, 100.0f, models, none, VoxelLoopPath::reference);
    ASSERT_GT(expected.mask.size(), 0u);
    ASSERT_LE(expected.mask.size(), 37u);
    const bool switches[3][2] = {{true, false}, {false, true}, {true, true}};
    for (const auto& keep : switches) {
        expectSameRun(run, models, keep, GetParam());
    }
}

TEST_P(VoxelEngine, BlocksWhoseFirstValuesFailAreDecidedByThemAlone) {
    // Voxels 0-47 start at or below the threshold, or with NaN, then rise
    // far above it: they fail. Voxel 20 starts just above and passes, so its
    // block is computed in full; voxels 48-69 are ordinary brain voxels.
    TestRun run = randomRun(20, {70, 1, 1}, 61u);
    const float firsts[3] = {100.0f, 50.0f, std::numeric_limits<float>::quiet_NaN()};
    for (int32_t l = 0; l < 48; ++l) {
        for (int32_t v = 0; v < 20; ++v) run.at(v, l) = 1000.0f + static_cast<float>(v + l);
        run.at(0, l) = firsts[l % 3];
    }
    run.at(0, 20) = std::nextafter(100.0f, 200.0f);
    for (int32_t l = 48; l < 70; ++l)
        for (int32_t v = 0; v < 20; ++v) run.at(v, l) = 900.0f + static_cast<float>((v * 7 + l) % 11);
    const PreparedModel models[2] = {randomModel(20, 5, 1, 62u), randomModel(20, 9, 2, 63u)};
    TestRun copy = run;
    const bool none[2] = {false, false};
    const VoxelLoopResults expected =
        runVoxelLoop(copy.data(), 20, {70, 1, 1}, 100.0f, models, none, VoxelLoopPath::reference);
    ASSERT_EQ(expected.mask.size(), 23u);
    EXPECT_EQ(expected.mask.front(), 20);
    const bool switches[4][2] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const auto& keep : switches) {
        expectSameRun(run, models, keep, GetParam());
    }
}

TEST_P(VoxelEngine, VariationAboveTheStdDevFloorCounts) {
    // Courses 1000 + a * (t % 2), every value exact in float. Model 1 selects
    // no confound, so its cleaned course is the voxel's own, whose squared
    // deviations sum to 5 a^2: between the 1e-4 floor and 1 for every a here.
    // A floor raised to 1 in either path would make these tSNRs infinite.
    constexpr int32_t n = 20;
    const float steps[6] = {0.0078125f, 0.015625f, 0.0625f, 0.125f, 0.25f, 0.375f};
    const VolumeSize dim{13, 1, 1};
    TestRun run(n, dim);
    for (int32_t l = 0; l < run.voxels(); ++l)
        for (int32_t t = 0; t < n; ++t) run.at(t, l) = 1000.0f + steps[l % 6] * static_cast<float>(t % 2);
    const PreparedModel models[2] = {randomModel(n, 4, 3, 71u), randomModel(n, 7, 1, 72u)};

    // The tSNR of each course, in plain float loops.
    std::vector<float> expected;
    for (int32_t l = 0; l < run.voxels(); ++l) {
        float sum = run.at(0, l);
        for (int32_t t = 1; t < n; ++t) sum = sum + run.at(t, l);
        const float mean = sum / static_cast<float>(n);
        float ss = 0.0f;
        for (int32_t t = 0; t < n; ++t) ss = ss + (run.at(t, l) - mean) * (run.at(t, l) - mean);
        ASSERT_GT(ss, 1e-4f) << "voxel " << l;
        ASSERT_LT(ss, 1.0f) << "voxel " << l;
        expected.push_back(mean / std::sqrt(ss / static_cast<float>(n - 1)));
    }

    const bool none[2] = {false, false};
    for (VoxelLoopPath path : {VoxelLoopPath::reference, GetParam()}) {
        TestRun copy = run;
        const VoxelLoopResults r = runVoxelLoop(copy.data(), n, dim, 100.0f, models, none, path);
        ASSERT_EQ(r.mask.size(), static_cast<size_t>(run.voxels()));
        for (int32_t l = 0; l < run.voxels(); ++l) {
            EXPECT_TRUE(std::isfinite(r.tSNR[0][l])) << "voxel " << l;
            EXPECT_TRUE(sameFloat(expected[static_cast<size_t>(l)], r.tSNR[0][l]))
                << "voxel " << l << ", path " << static_cast<int>(path);
        }
    }
    const bool switches[4][2] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const auto& keep : switches) expectSameRun(run, models, keep, GetParam());
}

} // namespace
