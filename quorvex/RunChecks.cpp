#include "quorvex/RunChecks.h"

#include <set>
#include <stdexcept>

#include "quorvex/Paths.h"

void checkPredictorCounts(const std::vector<SDMFile>& models, int32_t nrOfVolumes) {
    for (const SDMFile& model : models) {
        const int32_t p = model.nrOfPredictors.value;
        if (p >= nrOfVolumes) {
            throw std::runtime_error(fileNameOf(model.fileName) + " has " + std::to_string(p) +
                                     " predictors (with the constant) for " + std::to_string(nrOfVolumes) +
                                     " volumes; a model needs fewer predictors than volumes");
        }
    }
}

std::vector<std::string> plannedOutputPaths(const OutputSwitches& switches, const std::vector<SDMFile>& models,
                                            const std::string& fmrFileName, int32_t nrOfVolumes) {
    std::vector<std::string> paths;
    for (int i = 0; i < 2; ++i) {
        if (switches.residuals[i]) {
            const std::string run = cleanedRunPath(fmrFileName, models[i]);
            paths.push_back(run);
            paths.push_back(cleanedCoursesPath(run));
        }
    }
    const int32_t p1 = models[0].nrOfPredictors.value;
    const int32_t p2 = models[1].nrOfPredictors.value;
    for (int k = 0; k < kResultMapCount; ++k) {
        if (switches.map[k] && mapDegreesOfFreedom(kResultMaps[k], p1, p2, nrOfVolumes).exists) {
            paths.push_back(mapFileName(kResultMaps[k], models[0].fileName, models[1].fileName));
        }
    }
    return paths;
}

void checkOutputsAreDistinct(const OutputSwitches& switches, const std::vector<SDMFile>& models,
                             const std::string& fmrFileName, int32_t nrOfVolumes) {
    if (models[0].fileName == models[1].fileName) {
        return;
    }
    std::set<std::string> seen;
    for (const std::string& path : plannedOutputPaths(switches, models, fmrFileName, nrOfVolumes)) {
        if (!seen.insert(path).second) {
            throw std::runtime_error("Two outputs of this run would be written to " + path +
                                     ": give the models' "
                                     "design files names that differ after their folder and extension");
        }
    }
}
