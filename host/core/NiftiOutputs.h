// NIfTI-1 versions of what a run saves: each map as a 3D image and each
// FMR/STC pair as a 4D image, beside the saved file, with the run's geometry.
// For an .fmr run they are copies (--nifti); a run opened from NIfTI is saved
// in NIfTI only, unless the host's own formats are asked for too.
#pragma once

#include <string>

#include "host/core/HostServices.h"
#include "host/formats/AtomicFile.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/MapImage.h"
#include "host/formats/NiftiImage.h"

namespace corvantis {

struct NiftiOutputOptions {
    bool compressed = true; // .nii.gz, else .nii
    int threads = 1;        // compressing
    Durability durability = Durability::Complete;
};

// The saved file's name with its extension replaced by ".nii.gz" (or ".nii").
std::string niftiOutputPath(const std::string& path, bool compressed = true);

// The map's values as a 3D image with the run's geometry, its thresholds as
// cal_min/cal_max and, for an F map (MapType 4), intent NIFTI_INTENT_FTEST with
// DF1 and DF2. Throws SaveError.
NiftiImagePtr mapAsNiftiImage(const MapImage& map, const FmrDocument& run);

// That image written beside mapPath. Throws SaveError, also rather than write
// over the NIfTI file the run was read from.
void writeMapAsNifti(const MapImage& map, const FmrDocument& run, const std::string& mapPath,
                     const NiftiOutputOptions& options);

// Such an image, changed by the caller (another intent, say), written under
// niftiPath; throws as writeMapAsNifti.
void writeNiftiMapImage(const nifti_image& image, const FmrDocument& run, const std::string& niftiPath,
                        const NiftiOutputOptions& options);

// The document's time courses as the run saved under fmrPath. Throws SaveError
// as writeMapAsNifti.
void writeRunAsNifti(const FmrDocument& run, const std::string& fmrPath, const NiftiOutputOptions& options);

// Hooks that write both after each save, or (hostFormats false) instead of it.
SaveHooks niftiSaveHooks(const NiftiOutputOptions& options, bool hostFormats);

} // namespace corvantis
