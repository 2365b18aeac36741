// The participant level over several runs at once. The plug-in reaches its
// host through one process-wide table of service entry points, and the host's
// exports answer through one process-wide session (ServiceExports.h), so two
// comparisons can never share a process: each run is compared by a process of
// its own, this program started again for that run alone, and its record tells
// this one how it went. A run that crashes its process fails alone.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/research/StudyParticipant.h"

namespace corvantis {

struct RunProcesses {
    std::string program; // this program
    // The arguments after the program's name that compare exactly that run,
    // writing its files with that many threads.
    std::function<std::vector<std::string>(const PreprocessedRun& run, int threads)> arguments;
    int jobs = 1;    // processes at once
    int threads = 0; // each run's threads; 0 shares the machine's cores among the runs at once
};

// Each run whose record is current is skipped here; the others are compared
// by at most jobs processes at once. finished is called on this thread for
// each run as it ends (skipped ones first), and the outcomes are returned in
// the order of runs.
std::vector<RunOutcome> runInProcesses(const std::vector<PreprocessedRun>& runs, const StudyModels& models,
                                       const std::string& outputRoot, const RunProcesses& processes,
                                       const std::function<void(const RunOutcome&)>& finished);

// The threads each of the runs at once gets: the machine's cores shared among
// them, at least 1.
int threadsPerRun(int machineThreads, int jobs, std::size_t runs);

} // namespace corvantis
