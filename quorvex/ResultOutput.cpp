#include "quorvex/ResultOutput.h"

#include <cstdlib>

#include "plugin/HostCalls.h"
#include "quorvex/LogLine.h"
#include "quorvex/Paths.h"
#include "quorvex/SaveMap.h"

void saveResiduals(std::ostream* log, const SDMFile& model, const ResidualCourses& courses,
                   const std::vector<int32_t>& mask, float* const* data,
                   const std::string& fmrFileName) {
    const std::string name = fileNameOf(model.fileName);
    logLine(log, ">  Saving Residuals of confounds of " + name);
    courses.writeInto(data, mask);
    const std::string newPath = insertBeforeExtension(fmrFileName, "_min_confounds_of_" + stemOf(name));
    host::cvSaveFMRAndSTC(newPath.c_str(), stemOf(fileNameOf(newPath)).c_str());
}

namespace {

// Degrees of freedom of the F test of model 2 against model 1; 0 (the host's
// value stays) where a count is not positive.
int32_t positiveOrZero(int32_t value) { return value > 0 ? value : 0; }

void saveFMap(std::ostream* log, const VoxelLoopResults& results, const std::vector<SDMFile>& models,
              int32_t nrOfVolumes, const std::string& d, const std::string& f) {
    const int32_t p1 = models[0].nrOfPredictors.value;
    const int32_t p2 = models[1].nrOfPredictors.value;
    if (p1 == p2) {
        logLine(log, ">  Fmap could not be create because both SDMs have the same number of predictors");
        return;
    }
    const int32_t df1 = positiveOrZero(std::abs(p2 - p1));
    const int32_t df2 = positiveOrZero(nrOfVolumes - p2);
    saveMap(results.F, 4, 2.0f, 0.5f * results.F.max(), df1, df2, d + "_Fval_diff_" + f + ".map");
}

} // namespace

void saveRequestedMaps(std::ostream* log, const OutputSwitches& switches,
                       const std::vector<SDMFile>& models, const VoxelLoopResults& results,
                       int32_t nrOfVolumes) {
    logLine(log, ">  Saving Maps...");
    const std::string e = stemOf(models[0].fileName);
    const std::string d = stemOf(models[1].fileName);
    const std::string f = fileNameOf(e);
    if (switches.tSNR1) {
        saveMap(results.tSNR[0], 0, 5.0f, 100.0f, 0, 0, e + "_tSNR_residuals.map");
    }
    if (switches.tSNR2) {
        saveMap(results.tSNR[1], 0, 5.0f, 100.0f, 0, 0, d + "_tSNR_residuals.map");
    }
    if (switches.tSNR3) {
        saveMap(results.tSNR[1] - results.tSNR[0], 0, 1.0f, 20.0f, 0, 0, d + "_tSNR_diff_" + f + ".map");
    }
    if (switches.R2adj1) {
        saveMap(results.r2adj[0], 0, 0.1f, 0.5f, 0, 0, e + "_R2adj.map");
    }
    if (switches.R2adj2) {
        saveMap(results.r2adj[1], 0, 0.1f, 0.5f, 0, 0, d + "_R2adj.map");
    }
    if (switches.R2adj3) {
        saveMap(results.r2adj[1] - results.r2adj[0], 0, 0.05f, 0.5f, 0, 0, d + "_R2adj_diff_" + f + ".map");
    }
    if (switches.Fmap) {
        saveFMap(log, results, models, nrOfVolumes, d, f);
    }
}
