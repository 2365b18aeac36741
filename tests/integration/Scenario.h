// A small functional run with two design files on disk, the Corvantis run of
// the plug-in on it, and the results the reference arithmetic expects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostTestSupport.h"
#include "plugin/HostKit.h"
#include "quorvex/VoxelLoop.h"

namespace itest {

struct Design {
    int32_t firstConfound = 1;
    std::vector<std::vector<float>> columns; // [predictor][time point]
};

// An .sdm file with six decimals per value and names p1, p2, ...
void writeDesign(const std::string& path, const Design& design, const std::string& lineEnd = "\n");

struct MapFile {
    MapHeader header{};
    std::vector<float> values; // slices one after another, x fastest
};
MapFile readMap(const std::string& path);
std::vector<float> readFloats(const std::string& path);

class Scenario {
public:
    // A 4 x 3 x 2 run of 24 volumes: background voxels (below 100) at every
    // fifth index, the rest a baseline of 500 with a task response, two
    // confound-like signals and noise. Model 1: task + 1 confound, model 2:
    // task + 3 confounds (the constant is added by the plug-in).
    Scenario();

    hosttest::TempDir dir;
    int32_t dimX = 4, dimY = 3, dimZ = 2, volumes = 24;
    std::vector<float> values; // volume-major
    Design model1, model2;
    std::string fmr, sdm1, sdm2;

    int32_t voxels() const { return dimX * dimY * dimZ; }
    float& at(int32_t voxel, int32_t volume) { return values[static_cast<std::size_t>(volume * voxels() + voxel)]; }

    // Writes the run and both designs (again, after changes).
    void write();

    // Runs Corvantis on the run with sdmfile1/sdmfile2 set, then extra
    // arguments, then the tasks.
    hosttest::Outcome run(const std::vector<std::string>& extra,
                          const std::vector<std::string>& tasks = {"start"}) const;

    // What the reference path computes on the data as written.
    VoxelLoopResults expected(float threshold, bool keep1, bool keep2) const;
};

} // namespace itest
