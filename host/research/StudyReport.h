// The study's report: one self-contained HTML page (inline style, plots as
// inline SVG, pictures of maps as embedded PNG; nothing loaded from elsewhere).
// The decision comes first: in how many runs model 2 raises the median tSNR,
// the spread across runs of the share of voxels whose F test survives FDR, of
// the tSNR gain and of the adjusted-R2 gain, as plots, and the run-level
// outliers by name; then one row per run with its numbers and pictures of its
// -log10 p and tSNR-gain maps; then every warning and every failed run.
#pragma once

#include <string>

#include "host/research/StudyGroup.h"

namespace corvantis {

// The page. Maps that cannot be read are named among the warnings.
std::string studyReportHtml(const StudyGroup& group);

// The sentence of the decision, e.g. "Model 2 (36P) raises the median tSNR in 5 of 6 runs."
std::string studyDecision(const StudyGroup& group);

} // namespace corvantis
