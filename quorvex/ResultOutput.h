// Hands a run's results to the host: the confound-cleaned FMR/STC pairs and
// the requested maps.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "design/SDMFile.h"
#include "plugin/HostKit.h"
#include "quorvex/ResultMaps.h"
#include "quorvex/VoxelLoop.h"

// The dialog's output switches (non-zero = on).
struct OutputSwitches {
    bool map[kResultMapCount]; // in the order of kResultMaps
    bool residuals[2];         // kResidualSwitches: model 1, model 2
};

// Reads the switches from the dialog, one cvGetIntParameter each: the maps' in
// the order of kResultMaps, then the residual switches.
OutputSwitches readOutputSwitches();

// The path of the run cleaned of model's confounds: the run's path with
// "_min_confounds_of_" and the model's file name without extension inserted
// before the run's extension.
std::string cleanedRunPath(const std::string& fmrFileName, const SDMFile& model);

// The time-course file the host writes for a saved run: beside it, under the
// bare name the run hands the host, with ".stc".
std::string cleanedCoursesPath(const std::string& cleanedRun);

// Writes one model's cleaned courses into the run's data at the masked voxels,
// unless the voxel loop has already put them there, and saves the run as a
// new FMR/STC pair named after the model.
void saveResiduals(std::ostream* log, const SDMFile& model, const ResidualCourses& courses,
                   const std::vector<int32_t>& mask, float* const* data, const std::string& fmrFileName);

// Saves every switched-on map, in the order of kResultMaps; a map that cannot
// be made (see DegreesOfFreedom::fTest) is logged instead.
void saveRequestedMaps(std::ostream* log, const OutputSwitches& switches, const std::vector<SDMFile>& models,
                       const VoxelLoopResults& results, int32_t nrOfVolumes);
