// The files a run document was read from, for commands that must not write
// over their inputs.
#pragma once

#include <string>
#include <vector>

#include "host/formats/FmrDocument.h"

namespace corvantis {

// The path the run was opened from (an .fmr or a NIfTI run) and, when the
// document names one, the time-course file beside its .fmr.
std::vector<std::string> runFiles(const std::string& openedPath, const FmrDocument& run);

} // namespace corvantis
