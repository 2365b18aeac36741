// The group level of a study: every selected run's record and summary
// collected into one row per run (runs that failed or never ran too), the
// run-level outliers found, and the group table written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/research/StudyParticipant.h"
#include "host/research/StudyRuns.h"

namespace corvantis {

// The measures compared across runs, each plotted and checked for outliers.
enum class GroupMeasure { ShareFSurvivesFdr, MedianDeltaTsnr, MedianDeltaR2adj };

struct GroupRow {
    PreprocessedRun run;
    std::string status; // "done", "failed" or "not run"
    std::string error;  // of a failed run
    std::optional<double> volumes, voxelsAnalysed, predictors1, predictors2, residualDf1, residualDf2;
    std::optional<bool> nested;
    std::optional<double> fDf1, fDf2, fdrThreshold, voxelsSurviving;
    std::optional<double> shareFSurvivesFdr, medianDeltaTsnr, shareTsnrRaised, medianDeltaR2adj;
    std::optional<double> medianTsnr1, medianTsnr2;
    std::vector<std::string> warnings;       // the comparison's
    std::vector<GroupMeasure> outlierIn;     // measures where the run lies beyond the fences
    std::string folder;                      // the run's output folder
    std::string fMap, deltaTsnrMap, tsnrMap; // the -log10 p, tSNR difference and model-1 tSNR maps, when written

    std::optional<double> measure(GroupMeasure which) const;
};

struct StudyGroup {
    StudyModels models;
    std::vector<GroupRow> rows; // in the runs' order
    std::size_t failedRuns() const;
    std::size_t runsNotDone() const; // failed or not run
};

// A measure's name as the table and the report show it.
const char* measureName(GroupMeasure which);
const std::vector<GroupMeasure>& groupMeasures();

// Reads each run's record and summary from outputRoot; a run whose record or
// summary cannot be read is a failed run with that error.
StudyGroup collectStudyGroup(const std::vector<PreprocessedRun>& runs, const StudyModels& models,
                             const std::string& outputRoot);

// Tukey's fences: a run lies outside when below Q1 - 1.5 IQR or above Q3 + 1.5 IQR
// of the runs that have the measure; with fewer than four such runs none does.
void markOutliers(StudyGroup& group);

// The group table: a header row, then one row per run, tab-separated, "n/a" where a value is missing.
std::string groupTableText(const StudyGroup& group);

// The columns of the table, name and meaning, for the help.
std::string groupTableHelp();

} // namespace corvantis
