// Opens the run given as --fmr: an .fmr with its .stc, or (in builds with NIfTI
// support) a 4D NIfTI-1 run, .nii or .nii.gz, told apart by their content.
#pragma once

#include <string>

#include "host/formats/FmrDocument.h"

namespace corvantis {

// Throws DocumentError.
FmrDocument openRunDocument(const std::string& path);

} // namespace corvantis
