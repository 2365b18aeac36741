#include "quorvex/ResultOutput.h"

#include "plugin/HostCalls.h"
#include "quorvex/LogLine.h"
#include "quorvex/Paths.h"
#include "quorvex/SaveMap.h"

OutputSwitches readOutputSwitches() {
    OutputSwitches s{};
    for (int k = 0; k < kResultMapCount; ++k) {
        s.map[k] = host::cvGetIntParameter(kResultMaps[k].switchName) != 0;
    }
    for (int i = 0; i < 2; ++i) {
        s.residuals[i] = host::cvGetIntParameter(kResidualSwitches[i]) != 0;
    }
    return s;
}

void saveResiduals(std::ostream* log, const SDMFile& model, const ResidualCourses& courses,
                   const std::vector<int32_t>& mask, float* const* data, const std::string& fmrFileName) {
    const std::string name = fileNameOf(model.fileName);
    logLine(log, ">  Saving Residuals of confounds of " + name);
    courses.writeInto(data, mask);
    const std::string newPath = cleanedRunPath(fmrFileName, model);
    host::cvSaveFMRAndSTC(newPath.c_str(), stemOf(fileNameOf(newPath)).c_str());
}

std::string cleanedRunPath(const std::string& fmrFileName, const SDMFile& model) {
    return insertBeforeExtension(fmrFileName, "_min_confounds_of_" + stemOf(fileNameOf(model.fileName)));
}

std::string cleanedCoursesPath(const std::string& cleanedRun) {
    const std::string name = fileNameOf(cleanedRun);
    return cleanedRun.substr(0, cleanedRun.size() - name.size()) + stemOf(name) + ".stc";
}

namespace {

// One map's volume through saveMap, with the row's header fields.
void saveRow(const ResultMap& map, const Volume& volume, const MapDegreesOfFreedom& df, const std::string& fileName) {
    const float upper =
        map.upperRule == UpperThreshold::timesLargest ? map.upperThreshold * volume.max() : map.upperThreshold;
    saveMap(volume, map.mapType, map.lowerThreshold, upper, df.df1, df.df2, fileName);
}

// The result volume a row saves as it is; null for a difference.
const Volume* storedVolume(MapVolume volume, const VoxelLoopResults& results) {
    switch (volume) {
    case MapVolume::tSNR1: return &results.tSNR[0];
    case MapVolume::tSNR2: return &results.tSNR[1];
    case MapVolume::r2adj1: return &results.r2adj[0];
    case MapVolume::r2adj2: return &results.r2adj[1];
    case MapVolume::F: return &results.F;
    case MapVolume::tSNRDifference:
    case MapVolume::r2adjDifference: break;
    }
    return nullptr;
}

void saveResultMap(std::ostream* log, const ResultMap& map, const std::vector<SDMFile>& models,
                   const VoxelLoopResults& results, int32_t nrOfVolumes) {
    const MapDegreesOfFreedom df =
        mapDegreesOfFreedom(map, models[0].nrOfPredictors.value, models[1].nrOfPredictors.value, nrOfVolumes);
    if (!df.exists) {
        // For the F map: ">  Fmap could not be create because both SDMs have ...".
        logLine(log, std::string(">  ") + map.switchName +
                         " could not be create because both SDMs have the same number of predictors");
        return;
    }
    const std::string fileName = mapFileName(map, models[0].fileName, models[1].fileName);
    if (const Volume* stored = storedVolume(map.volume, results)) {
        saveRow(map, *stored, df, fileName);
        return;
    }
    // Model 2's minus model 1's, formed just before the save and released after it.
    const Volume(&pair)[2] = map.volume == MapVolume::tSNRDifference ? results.tSNR : results.r2adj;
    const Volume difference = pair[1] - pair[0];
    saveRow(map, difference, df, fileName);
}

} // namespace

void saveRequestedMaps(std::ostream* log, const OutputSwitches& switches, const std::vector<SDMFile>& models,
                       const VoxelLoopResults& results, int32_t nrOfVolumes) {
    logLine(log, ">  Saving Maps...");
    for (int k = 0; k < kResultMapCount; ++k) {
        if (switches.map[k]) {
            saveResultMap(log, kResultMaps[k], models, results, nrOfVolumes);
        }
    }
}
