// Checks a comparison run makes after reading its designs and the run's header
// and before it computes or writes anything: each refusal ends the task with an
// error, so nothing half-made is left behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "design/SDMFile.h"
#include "quorvex/ResultOutput.h"

// A model of nrOfPredictors >= n (after its trailing constant) leaves no residual
// degree of freedom: its fit is exact and every statistic of it meaningless.
// Throws for the first such model, model 1 first, naming its file.
void checkPredictorCounts(const std::vector<SDMFile>& models, int32_t nrOfVolumes);

// Every file the run is about to write, in the order it writes them: each kept
// model's cleaned run (.fmr, then the .stc the host writes beside it), then the
// switched-on maps that can be made.
std::vector<std::string> plannedOutputPaths(const OutputSwitches& switches, const std::vector<SDMFile>& models,
                                            const std::string& fmrFileName, int32_t nrOfVolumes);

// When the two design files are given as different texts, no two outputs may
// share a path, or one would replace the other. Throws naming the first path
// written twice. The same file given for both models keeps its known outcome.
void checkOutputsAreDistinct(const OutputSwitches& switches, const std::vector<SDMFile>& models,
                             const std::string& fmrFileName, int32_t nrOfVolumes);
