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
    if (map.values.stored != nullptr) {
        saveRow(map, *map.values.stored(results), df, fileName);
        return;
    }
    const Volume formed = map.values.formed(results);
    saveRow(map, formed, df, fileName);
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
