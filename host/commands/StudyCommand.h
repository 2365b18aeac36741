// "Corvantis study DERIVATIVES OUTPUT participant|group", with the comparison
// of one run handed in, so that tests can drive the study with their own.
#pragma once

#include <string>
#include <vector>

#include "host/research/StudyParticipant.h"

namespace corvantis {

// The command's run: returns the exit status, throws UsageError.
int runStudyCommand(const std::vector<std::string>& args, const RunComparison& compare);

} // namespace corvantis
