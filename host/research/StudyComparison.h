// The comparison a study runs on each of its runs.
#pragma once

#include "host/research/StudyParticipant.h"

namespace corvantis {

// Builds both designs from the run's confound table (and events) by the two
// strategies, checks them and compares them through the plug-in, writing the
// maps and the summary into the request's folder.
RunComparison studyComparison();

} // namespace corvantis
