// A stand-in for the comparison of one run, so that the study's own machinery
// (finding runs, naming and placing outputs, records, resuming, failures, the
// group table and report) is tested apart from the statistics: it reads the
// run (a damaged run fails as it would in the real comparison) and the confound
// table, and writes five maps of the run's mean and spread, an extra file, and a
// summary of the same form as the real one, all from the data alone.
#pragma once

#include <atomic>

#include "host/research/StudyParticipant.h"

namespace studytest {

// Counts the comparisons it ran, so that tests can tell a skipped run.
corvantis::RunComparison fakeComparison(std::atomic<int>* calls = nullptr);

} // namespace studytest
