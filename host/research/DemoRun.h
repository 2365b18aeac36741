// A small, realistic functional run with two design files, generated from a
// seed: a head of grey-matter-like voxels in a background of noise, slow drift,
// head motion that leaks into the voxels near the edge of the head, a block
// task response in one region, and thermal noise.
#pragma once

#include <cstdint>
#include <string>

namespace corvantis {

struct DemoRunSpec {
    int32_t dimX = 24;
    int32_t dimY = 24;
    int32_t dimZ = 10;
    int32_t volumes = 150;
    uint32_t seed = 1;
};

// The files a demo run consists of, all in one folder.
struct DemoRunFiles {
    std::string fmr;    // run.fmr with its run.stc
    std::string model1; // model1_drift.sdm: task, then cosine drifts as confounds
    std::string model2; // model2_drift_motion.sdm: the same plus six motion parameters
};

// Writes the run and both designs into folder (created when missing). Throws
// SaveError when a file cannot be written.
DemoRunFiles writeDemoRun(const std::string& folder, const DemoRunSpec& shape);

} // namespace corvantis
