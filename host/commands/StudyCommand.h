// "Corvantis study DERIVATIVES OUTPUT participant|group", with the comparison
// of one run handed in, so that tests can drive the study with their own.
#pragma once

#include <string>
#include <vector>

#include "host/research/StudyParticipant.h"

namespace corvantis {

// The command's run: returns the exit status, throws UsageError. With program
// (this Corvantis) the participant level may compare --jobs runs at once, each
// in a process of that program; without, every run is compared in this process
// by compare, whatever --jobs says (a test's own comparison, or a test binary
// that must never start copies of itself).
int runStudyCommand(const std::vector<std::string>& args, const RunComparison& compare,
                    const std::string& program = std::string());

} // namespace corvantis
