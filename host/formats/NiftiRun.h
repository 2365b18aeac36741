// A 4D NIfTI-1 run opened as the host's FMR document: float32 time courses
// (DataType 2), extents, voxel sizes and TR from the header.
#pragma once

#include <string>

#include "host/formats/FmrDocument.h"

namespace corvantis {

// The .fmr key that names the NIfTI file a document was read from; saved
// residual runs keep it, so their NIfTI copies carry the same geometry.
constexpr const char kNiftiSourceKey[] = "NiftiSource";

// The document carries the path of the .fmr the run would be beside the NIfTI
// file (run.nii.gz gives run.fmr), so outputs are named as for an .fmr run;
// that file is not written. Throws DocumentError for an unreadable file, for an
// image that is not 4D, and for values that are not real numbers. A compressed
// file is inflated by up to threads threads.
FmrDocument openNiftiRun(const std::string& path, int threads = 1);

// "run.nii.gz" and "run.nii" give "run.fmr", "RUN.NII.GZ" gives "RUN.fmr"; a
// NIfTI run of another name gives its name with the extension replaced.
std::string fmrPathOfNifti(const std::string& path);

} // namespace corvantis
