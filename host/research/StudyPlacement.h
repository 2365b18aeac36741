// Where a study may write: never into the derivatives it reads, the raw dataset
// or a folder of a run's inputs, whatever links lead there. Folders are told by
// identity (FileIdentity.h), so a link, another spelling of a path or a second
// mount of the same folder is caught too. The raw dataset's derivatives/ folder,
// where BIDS keeps derivatives, is not raw data and may hold OUTPUT.
#pragma once

#include <string>

#include "host/research/StudyRuns.h"

namespace corvantis {

// Throws DocumentError naming OUTPUT and the folder when OUTPUT is, or lies
// inside, DERIVATIVES or the raw dataset (rawDataset empty when none is given).
void checkStudyOutput(const std::string& output, const std::string& derivatives, const std::string& rawDataset);

// Throws DocumentError naming the run's output folder and the folder it leads
// into when, its links followed (a sub-XX in OUTPUT that links elsewhere, say),
// it is or lies inside DERIVATIVES, the raw dataset or the folder of one of the
// run's input files.
void checkRunOutputFolder(const PreprocessedRun& run, const std::string& output, const std::string& derivatives,
                          const std::string& rawDataset);

} // namespace corvantis
