// Which voxels a comparison analyses. The plug-in analyses the voxels whose time
// course stays above its threshold in every volume; the host picks that
// threshold from the run's mean image, or makes a brain mask exact by what it
// hands the plug-in outside the mask, never changing a value inside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/formats/FmrDocument.h"

namespace corvantis {

// The automatic threshold: 10% of the way from the 2nd to the 98th percentile
// of the run's mean image (the mean of each voxel's course, over the voxels
// whose mean is finite), so the dark background falls below it and tissue of
// any scanner's scale stays above.
struct AutomaticThreshold {
    float threshold = 0.0f;
    double lowPercentile = 0.0;  // the mean image's 2nd percentile
    double highPercentile = 0.0; // its 98th
};
AutomaticThreshold automaticThreshold(const TimeCourses& courses);

// A brain mask on the run's grid: 1 inside (a finite non-zero value), 0 outside.
struct BrainMask {
    std::string path;
    std::vector<unsigned char> inside;
    // Set when the mask's voxel-to-world transform is not the run's (a NIfTI
    // run): the same shape may then be another grid.
    std::optional<std::string> warning;
    int64_t insideCount() const;
};

// Reads a 3D NIfTI-1 mask (a 4D image of one volume too). Throws DocumentError
// naming the file when it cannot be read and when its shape is not the run's,
// naming both shapes.
BrainMask readBrainMask(const std::string& path, const RunLayout& run, const std::string& runPath);

// What the plug-in is handed for a mask: the voxels outside it are set to
// outsideValue in every volume, the voxels inside keep their values, and the
// threshold lies below every value inside. outsideValue is 0 when every value
// inside the mask is above 0 (the usual scanner intensities), NaN otherwise (a
// NaN in the first volume fails a voxel at any threshold); the cleaned runs keep
// that value outside the mask.
struct MaskHandover {
    float threshold = 0.0f;
    float outsideValue = 0.0f;
    // Voxels inside the mask the plug-in cannot analyse all the same: a NaN in
    // the first volume, or a value of -inf or the lowest float.
    int64_t insideUnusable = 0;
};
MaskHandover handOverMask(TimeCourses& courses, const BrainMask& mask);

} // namespace corvantis
