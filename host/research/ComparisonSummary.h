// What one comparison of two designs on one run found, as its summary file holds it
// for readers and for the commands that collect comparisons over runs.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvantis {

// The quartiles of a map over the analysed voxels whose value is finite;
// between ranks the values are interpolated linearly.
struct MapQuartiles {
    std::string file;
    double min = 0, q1 = 0, median = 0, q3 = 0, max = 0;
    int64_t voxels = 0;
};

// Empty values give a quartiles record of 0 voxels and zeros.
MapQuartiles quartilesOf(std::vector<double> values);

struct ModelFacts {
    std::string strategy;
    std::string design; // the .sdm file's name in the output folder
    int32_t predictors = 0;
    int32_t rank = 0;
    double conditionNumber = 0;
    int32_t residualDf = 0;
    std::vector<std::string> columns;
    // Left out of the design before the fit as combinations of the columns before them.
    std::vector<std::string> columnsLeftOut;
};

struct ComparisonSummary {
    std::string run;
    std::string confounds;
    std::optional<std::string> events;
    std::optional<std::string> mask;
    ModelFacts model1, model2;
    int32_t volumes = 0;
    int64_t voxelsTotal = 0;
    int64_t voxelsAnalysed = 0;
    std::string selectionMethod; // "mask" or "threshold"
    std::optional<double> threshold;
    bool nested = false;
    std::optional<std::array<int32_t, 2>> fDf;
    double fdrQ = 0.05;
    std::optional<double> fdrNegLog10PThreshold;
    int64_t fdrSurviving = 0;
    // By key: tsnr1, tsnr2, r2adj1, r2adj2, delta_tsnr, delta_r2adj, f, neglog10p.
    std::map<std::string, MapQuartiles> maps;
    double shareTsnrRaised = 0;
    std::optional<double> shareFSurvivesFdr;
    double medianDeltaTsnr = 0;
    double medianDeltaR2adj = 0;
    std::vector<std::string> warnings;
    double designSeconds = 0, compareSeconds = 0, writeSeconds = 0, totalSeconds = 0;
    std::vector<std::string> outputs; // file names in the output folder
};

// The summary file's text: one object, keys as named above in
// snake case, indented by two spaces.
std::string summaryJsonText(const ComparisonSummary& summary);

} // namespace corvantis
