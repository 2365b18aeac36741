// The repetition time of an opened run, as designs need it for task events.
#pragma once

#include <optional>

#include "host/formats/FmrDocument.h"

namespace corvantis {

// The run's TR in seconds (an .fmr keeps it in milliseconds, a NIfTI run's
// header converted alike); nullopt when the run gives none or one not above 0.
std::optional<double> runRepetitionTime(const FmrDocument& run);

} // namespace corvantis
