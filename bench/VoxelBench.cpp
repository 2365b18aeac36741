// The voxel loop benchmark: per workload, the reference loop, each block
// engine variant this processor supports and the numpy peer, in one run.
//
//   quorvex_bench [W1 W2 W3 ...]     the tables (default: all three)
//   quorvex_bench --memory W1        peak memory of one fast run, both residuals on
//   quorvex_bench --profile W1 [none|first|both [sse2|avx2|avx512]]   ten fast runs, for perf
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench/PeakRate.h"
#include "bench/Workloads.h"
#include "quorvex/CpuFeatures.h"
#include "quorvex/VoxelLoop.h"

namespace {

// The run as generated, and the copy each timed run works on (the residual
// outputs overwrite it).
struct Prepared {
    Workload w;
    std::vector<float> values;
    std::vector<float> work;
    std::vector<float*> volumes;
    PreparedModel models[2];
};

// Without the original (a single run) the run's data is held once.
void prepare(Prepared& run, const std::string& name, bool keepOriginal = true) {
    run.w = workloadNamed(name);
    run.values = timeCourses(run.w);
    if (keepOriginal) {
        run.work = run.values;
    } else {
        run.work = std::move(run.values);
    }
    const size_t count = static_cast<size_t>(voxelCount(run.w));
    for (int32_t v = 0; v < run.w.n; ++v) run.volumes.push_back(run.work.data() + v * count);
    prepareModels(run.w, run.models);
}

// What a run computes: the voxel loop, then each kept model's courses written
// into the run's data, model 1 first, as the residual outputs do before each
// save (the saves themselves are the host's).
VoxelLoopResults runOnce(Prepared& run, VoxelLoopPath path, const bool (&keep)[2]) {
    VoxelLoopResults results = runVoxelLoop(run.volumes.data(), run.w.n, {run.w.dimX, run.w.dimY, run.w.dimZ},
                                            run.w.threshold, run.models, keep, path);
    for (int i = 0; i < 2; ++i) {
        if (keep[i]) results.residuals[i].writeInto(run.volumes.data(), results.mask);
    }
    return results;
}

// CPU time of this thread: what a run costs when other processes share the core.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Timing {
    double wall = 1e30;
    double cpu = 1e30;
};

Timing seconds(Prepared& run, VoxelLoopPath path, int repeats, const bool (&keep)[2], VoxelLoopResults* keepLast) {
    Timing best;
    for (int r = 0; r < repeats; ++r) {
        std::copy(run.values.begin(), run.values.end(), run.work.begin());
        const double cpuStart = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        VoxelLoopResults results = runOnce(run, path, keep);
        best.wall =
            std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        best.cpu = std::min(best.cpu, cpuSeconds() - cpuStart);
        if (keepLast != nullptr && r + 1 == repeats) *keepLast = std::move(results);
    }
    return best;
}

bool sameBits(const float* a, const float* b, size_t count) { return std::memcmp(a, b, count * sizeof(float)) == 0; }

// The residual switches of one part of a table.
struct Setting {
    const char* title;
    bool keep[2];
};

const Setting kSettings[] = {{"residual outputs of both models", {true, true}},
                             {"residual outputs of model 1", {true, false}},
                             {"no residual outputs", {false, false}}};

// The mask, the five volumes and the number of courses kept per model.
bool sameStatistics(const VoxelLoopResults& reference, const VoxelLoopResults& b, const bool (&keep)[2]) {
    const VoxelLoopResults& a = reference;
    if (a.mask != b.mask) return false;
    for (int i = 0; i < 2; ++i) {
        if (b.residuals[i].count() != (keep[i] ? static_cast<int64_t>(a.mask.size()) : 0)) return false;
        if (!sameBits(a.tSNR[i].data(), b.tSNR[i].data(), a.tSNR[i].count())) return false;
        if (!sameBits(a.r2adj[i].data(), b.r2adj[i].data(), a.r2adj[i].count())) return false;
    }
    return sameBits(a.F.data(), b.F.data(), a.F.count());
}

// The run's data as the reference leaves it after each setting's residual
// outputs: both models' courses written, model 1's alone, or none.
std::vector<float> referenceData(Prepared& run, const VoxelLoopResults& reference, const bool (&keep)[2]) {
    std::copy(run.values.begin(), run.values.end(), run.work.begin());
    for (int i = 0; i < 2; ++i) {
        if (keep[i]) reference.residuals[i].writeInto(run.volumes.data(), reference.mask);
    }
    return run.work;
}

// Every output of a timed run against the reference: the statistics, and the
// run's data after its residual outputs. With both models kept, model 2's
// write covers model 1's courses, so one more run checks the data after
// model 1's write alone.
bool identical(Prepared& run, const VoxelLoopResults& reference, const std::vector<float>& expected,
               const VoxelLoopResults& results, const bool (&keep)[2], VoxelLoopPath path) {
    if (!sameStatistics(reference, results, keep) || !sameBits(run.work.data(), expected.data(), expected.size()))
        return false;
    if (!(keep[0] && keep[1])) return true;
    const bool model1[2] = {true, false};
    const std::vector<float> expected1 = referenceData(run, reference, model1);
    std::copy(run.values.begin(), run.values.end(), run.work.begin());
    const VoxelLoopResults again = runVoxelLoop(run.volumes.data(), run.w.n, {run.w.dimX, run.w.dimY, run.w.dimZ},
                                                run.w.threshold, run.models, keep, path);
    again.residuals[0].writeInto(run.volumes.data(), again.mask);
    return sameBits(run.work.data(), expected1.data(), expected1.size());
}

// The multiplies and adds of one voxel: per model the three products
// (2np each, less the first adds), the selection and the passes of length n;
// the total sum of squares once.
double flopsPerVoxel(const Workload& w) {
    const double n = w.n;
    double flops = 4.0 * n;
    for (double p : {static_cast<double>(w.p1), static_cast<double>(w.p2)}) flops += 6.0 * n * p + 6.0 * n + 8.0;
    return flops;
}

struct Peer {
    double seconds = 0.0;
    double cpu = 0.0;
    long masked = 0;
    std::string threads;
};

Peer runPeer(const Prepared& run, const std::string& modelFile, bool oneThread, const std::string& script) {
    const Workload& w = run.w;
    const std::string command = std::string(oneThread ? "OPENBLAS_NUM_THREADS=1 " : "env -u OPENBLAS_NUM_THREADS ") +
                                "/usr/bin/python3 " + script + " " + std::to_string(w.dimX) + " " +
                                std::to_string(w.dimY) + " " + std::to_string(w.dimZ) + " " + std::to_string(w.n) +
                                " " + std::to_string(w.threshold) + " " + modelFile + " 3";
    Peer peer;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return peer;
    char threads[64] = {};
    if (std::fscanf(pipe, "%lf %lf %ld %63s", &peer.seconds, &peer.cpu, &peer.masked, threads) == 4)
        peer.threads = threads;
    pclose(pipe);
    return peer;
}

// Rates from this thread's CPU time, which other processes on a shared
// machine do not inflate; a multi-threaded peer is rated by its wall time.
void printRow(const char* path, Timing t, double masked, double flops, double peak, double reference, const char* note,
              bool byWall = false) {
    const double s = byWall ? t.wall : t.cpu;
    std::printf("  %-28s %9.4f %9.4f %11.0f %8.2f %7.1f%% %8.1fx  %s\n", path, t.wall, t.cpu, masked / s,
                flops / s * 1e-9, 100.0 * flops / s / peak, reference / s, note);
}

struct Line {
    std::string name;
    double flops;
    double best[3]; // fastest variant's CPU time per setting
};

Line table(const std::string& name, double peak, const std::string& script) {
    Prepared run;
    prepare(run, name);
    const Workload& w = run.w;
    const std::string modelFile = "/tmp/quorvex_bench_models_" + name + ".bin";
    writeModels(modelFile, w.n, run.models);
    const int referenceRepeats = w.name == "W2" ? 1 : 2;

    Line line{name, 0.0, {1e30, 1e30, 1e30}};
    Timing referenceWithout;
    // The reference of the first setting keeps both models' courses, from
    // which every setting's expected data follows.
    VoxelLoopResults reference(VolumeSize{1, 1, 1}, 1);
    double masked = 0.0;
    for (int k = 0; k < 3; ++k) {
        const Setting& setting = kSettings[k];
        VoxelLoopResults timed(VolumeSize{1, 1, 1}, 1);
        const Timing ref =
            seconds(run, VoxelLoopPath::reference, referenceRepeats, setting.keep, k == 0 ? &reference : &timed);
        if (k == 0) {
            masked = static_cast<double>(reference.mask.size());
            line.flops = masked * flopsPerVoxel(w);
            std::printf(
                "\n%s: %d x %d x %d voxels, %d volumes, models of %d and %d predictors, %.0f of %d voxels "
                "masked, %.2f GFLOP per run\n",
                w.name.c_str(), w.dimX, w.dimY, w.dimZ, w.n, w.p1, w.p2, masked, voxelCount(w), line.flops * 1e-9);
            std::printf("  %-28s %9s %9s %11s %8s %8s %9s  %s\n", "path", "wall s", "cpu s", "voxels/s", "GFLOP/s",
                        "of peak", "vs ref", "outputs");
        }
        if (k == 2) referenceWithout = ref;
        const std::vector<float> expected = referenceData(run, reference, setting.keep);
        std::printf("  %s\n", setting.title);
        printRow("reference", ref, masked, line.flops, peak, ref.cpu, "");
        struct Variant {
            const char* label;
            VoxelLoopPath path;
            SimdLevel level;
        };
        const Variant variants[] = {{"block engine SSE2", VoxelLoopPath::sse2, SimdLevel::sse2},
                                    {"block engine AVX2", VoxelLoopPath::avx2, SimdLevel::avx2},
                                    {"block engine AVX-512", VoxelLoopPath::avx512, SimdLevel::avx512}};
        for (const Variant& v : variants) {
            if (!cpuSupports(v.level)) continue;
            VoxelLoopResults results(VolumeSize{1, 1, 1}, 1);
            const Timing t = seconds(run, v.path, 5, setting.keep, &results);
            if (v.level == bestSimdLevel()) line.best[k] = t.cpu;
            const bool same = identical(run, reference, expected, results, setting.keep, v.path);
            const std::string note = std::string(same ? "identical" : "DIFFERENT") +
                                     (v.level == bestSimdLevel() ? "; the one the plug-in picks here" : "");
            printRow(v.label, t, masked, line.flops, peak, ref.cpu, note.c_str());
        }
    }
    // The peer keeps both models' cleaned courses in memory and writes
    // nothing back: it is set against the reference without residual outputs.
    std::printf("  numpy peer (all voxels at once, float32 matrix products)\n");
    for (bool oneThread : {true, false}) {
        const Peer peer = runPeer(run, modelFile, oneThread, script);
        if (peer.seconds <= 0.0) {
            std::printf("  numpy peer did not run\n");
            continue;
        }
        const std::string label =
            "numpy, " + (oneThread ? std::string("1 BLAS thread") : "BLAS threads " + peer.threads);
        printRow(label.c_str(), Timing{peer.seconds, peer.cpu}, masked, line.flops, peak, referenceWithout.cpu,
                 peer.masked == static_cast<long>(masked) ? (oneThread ? "same mask" : "same mask; rated by wall")
                                                          : "MASK DIFFERS",
                 !oneThread);
    }
    std::remove(modelFile.c_str());
    std::fflush(stdout);
    return line;
}

int memoryRun(const std::string& name) {
    Prepared run;
    prepare(run, name, false);
    const double dataBytes = static_cast<double>(run.work.size()) * sizeof(float);
    const double cpuStart = cpuSeconds();
    const bool both[2] = {true, true};
    const VoxelLoopResults results = runOnce(run, VoxelLoopPath::fastest, both);
    const double s = cpuSeconds() - cpuStart;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peak = static_cast<double>(usage.ru_maxrss) * 1024.0;
    std::printf(
        "\n%s, both residual outputs on, %s: peak resident memory %.1f MB = %.2f x the time-course data "
        "(%.1f MB); %zu masked voxels in %.3f s of CPU time\n",
        name.c_str(), simdLevelName(bestSimdLevel()), peak / 1e6, peak / dataBytes, dataBytes / 1e6,
        results.mask.size(), s);
    return 0;
}

// Ten runs of one path, for a profiler; residual outputs of no model,
// model 1 or both. The data is restored before each run, untimed.
int profileRun(const std::string& name, const std::string& residuals, const std::string& variant) {
    const VoxelLoopPath path = variant == "sse2"     ? VoxelLoopPath::sse2
                               : variant == "avx2"   ? VoxelLoopPath::avx2
                               : variant == "avx512" ? VoxelLoopPath::avx512
                                                     : VoxelLoopPath::fastest;
    Prepared run;
    prepare(run, name);
    const bool keep[2] = {residuals != "none", residuals == "both"};
    double best = 1e30;
    for (int r = 0; r < 10; ++r) {
        std::copy(run.values.begin(), run.values.end(), run.work.begin());
        const double cpuStart = cpuSeconds();
        runOnce(run, path, keep);
        best = std::min(best, cpuSeconds() - cpuStart);
    }
    std::printf("%s, %s, residual outputs of %s: best of ten runs %.4f s of CPU time\n", name.c_str(), variant.c_str(),
                residuals == "first" ? "model 1" : residuals.c_str(), best);
    return 0;
}

std::string peerScript(const char* argv0) {
    std::string self(argv0);
    const size_t slash = self.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
    return dir + "/peer_numpy.py";
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) names.push_back(argv[i]);
    if (names.size() == 2 && names[0] == "--memory") return memoryRun(names[1]);
    if (names.size() >= 2 && names.size() <= 4 && names[0] == "--profile")
        return profileRun(names[1], names.size() >= 3 ? names[2] : "none", names.size() == 4 ? names[3] : "fastest");
    if (names.empty()) names = {"W1", "W2", "W3"};

    // The peak of the widest instruction set counts: the fast path picks it.
    std::string rates;
    double peak = 0.0;
    const std::pair<SimdLevel, double (*)()> levels[] = {
        {SimdLevel::sse2, peakRateSse2}, {SimdLevel::avx2, peakRateAvx2}, {SimdLevel::avx512, peakRateAvx512}};
    for (const auto& [level, rate] : levels) {
        char text[64];
        if (cpuSupports(level)) {
            const double r = rate();
            peak = std::max(peak, r);
            std::snprintf(text, sizeof text, "%s%s %.1f GFLOP/s", rates.empty() ? "" : ", ", simdLevelName(level),
                          r * 1e-9);
        } else {
            std::snprintf(text, sizeof text, ", %s not supported", simdLevelName(level));
        }
        rates += text;
    }
    std::printf(
        "Single-core peak of separate vector multiplies and adds: %s; \"of peak\" below is against %.1f "
        "GFLOP/s\n",
        rates.c_str(), peak * 1e-9);
    std::printf(
        "A run here is the voxel loop plus writing each kept model's cleaned courses into the run's data, "
        "as the\nresidual outputs do before each save. Fast paths run single-threaded; each time is the best "
        "of its repeats;\nevery output (statistics and the data after the writes) is compared bit for bit "
        "with the reference;\nrates from CPU time (the machine may be shared), wall time beside.\n");
    const std::string script = peerScript(argv[0]);
    std::vector<Line> lines;
    for (const std::string& name : names) lines.push_back(table(name, peak, script));

    const Line* w1 = nullptr;
    const Line* w2 = nullptr;
    for (const Line& l : lines) {
        if (l.name == "W1") w1 = &l;
        if (l.name == "W2") w2 = &l;
    }
    if (w1 != nullptr && w2 != nullptr) {
        std::printf(
            "\nW2 / W1, the variant the plug-in picks: CPU time ratio %.2f with both residual outputs, %.2f "
            "with none; operation-count ratio %.2f\n",
            w2->best[0] / w1->best[0], w2->best[2] / w1->best[2], w2->flops / w1->flops);
    }
    return 0;
}
