// Hands a run's results to the host: the confound-cleaned FMR/STC pairs and
// the requested maps.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "design/SDMFile.h"
#include "plugin/HostKit.h"
#include "quorvex/VoxelLoop.h"

// The dialog's output switches, in the order the run reads them.
struct OutputSwitches {
    bool tSNR1, tSNR2, tSNR3, R2adj1, R2adj2, R2adj3, Fmap, residuals1, residuals2;
};

// Writes one model's cleaned courses into the run's data at the masked voxels,
// unless the voxel loop has already put them there, and saves the run as a
// new FMR/STC pair named after the model.
void saveResiduals(std::ostream* log, const SDMFile& model, const ResidualCourses& courses,
                   const std::vector<int32_t>& mask, float* const* data,
                   const std::string& fmrFileName);

// Saves every switched-on map, in the fixed order tSNR1 ... Fmap.
void saveRequestedMaps(std::ostream* log, const OutputSwitches& switches,
                       const std::vector<SDMFile>& models, const VoxelLoopResults& results,
                       int32_t nrOfVolumes);
