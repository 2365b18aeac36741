// NIfTI-1 copies of what a run saves (--nifti): each map as a 3D image and each
// FMR/STC pair as a 4D image, beside the saved file, with the run's geometry.
#pragma once

#include <string>

#include "host/core/HostServices.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/MapImage.h"
#include "host/formats/NiftiImage.h"

namespace corvantis {

// The saved file's name with its extension replaced by ".nii.gz".
std::string niftiCopyPath(const std::string& path);

// The map's values as a 3D image with the run's geometry, its thresholds as
// cal_min/cal_max and, for an F map (MapType 4), intent NIFTI_INTENT_FTEST with
// DF1 and DF2. Throws SaveError.
NiftiImagePtr mapAsNiftiImage(const MapImage& map, const FmrDocument& run);

// That image written as the saved map's NIfTI copy. Throws SaveError.
void writeMapAsNifti(const MapImage& map, const FmrDocument& run, const std::string& mapPath);

// The document's time courses beside its .fmr. Throws SaveError.
void writeRunAsNifti(const FmrDocument& run);

// Hooks that write both copies after each save.
SaveHooks niftiCopyHooks();

} // namespace corvantis
