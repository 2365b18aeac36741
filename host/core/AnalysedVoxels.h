// Which voxels a comparison run analyses, counted by the host on the time
// courses it hands the plug-in, so that a run can say how many there were.
#pragma once

#include <cstdint>
#include <vector>

#include "host/formats/TimeCourses.h"

namespace corvantis {

// The voxels whose time course stays above threshold, by the plug-in's own rule:
// the smallest value, taken from volume 0 on by keeping the running value while
// it is not greater than the next one, must be greater than threshold. So a NaN
// in volume 0 fails the voxel and a NaN later is passed over; a run without
// volumes analyses none. Float time courses only; 0 for any other data type.
int64_t countAnalysedVoxels(const TimeCourses& courses, float threshold);

// The same voxels marked one by one (1 analysed, 0 not), in the run's voxel order.
std::vector<unsigned char> analysedVoxelMask(const TimeCourses& courses, float threshold);

} // namespace corvantis
