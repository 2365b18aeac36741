// Opens the run given as --fmr: an .fmr with its .stc, or (in builds with NIfTI
// support) a 4D NIfTI-1 run, .nii or .nii.gz, told apart by their content.
#pragma once

#include <string>

#include "host/formats/FmrDocument.h"

namespace corvantis {

// Throws DocumentError. A compressed NIfTI run is inflated by up to threads threads.
FmrDocument openRunDocument(const std::string& path, int threads = 1);

// Whether the run at path is a NIfTI file (by its content). Throws DocumentError
// when it cannot be read.
bool isNiftiRun(const std::string& path);

} // namespace corvantis
