// Maps saved as NIfTI-1 (.nii, .nii.gz) read back as a .map is: the values and
// the header fields the host's NIfTI maps carry (thresholds in cal_min/cal_max,
// an F test's degrees of freedom in its intent, the map type in the
// description), so summaries and pictures treat both alike.
#pragma once

#include <string>

#include "host/formats/MapFile.h"

namespace corvantis {

// How a NIfTI map's description starts; the map type follows.
constexpr char kNiftiMapDescription[] = "Corvantis map, type ";

// Throws DocumentError naming the file when it is no NIfTI-1 image (as
// readNiftiImage), has more than one volume, more than kMaxMapVoxels voxels,
// or values that are not real numbers. Without the description the map type is
// 0, or 4 for an F-test intent.
MapContents readNiftiMap(const std::string& path);

} // namespace corvantis
