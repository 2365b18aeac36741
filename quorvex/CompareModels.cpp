// The comparison run of the "start" task.
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "design/DesignMatrix.h"
#include "design/SDMReader.h"
#include "plugin/HostCalls.h"
#include "quorvex/HostText.h"
#include "quorvex/LogLine.h"
#include "quorvex/ModelPreparation.h"
#include "quorvex/Paths.h"
#include "quorvex/ResultOutput.h"
#include "quorvex/RunChecks.h"
#include "quorvex/RunGeometry.h"
#include "quorvex/VoxelLoop.h"
#include "quorvex/quorvex.h"

namespace {

std::string fmrFileName(const FMRHeader& header) {
    return std::string(header.FileName, strnlen(header.FileName, sizeof header.FileName));
}

void checkVolumeCounts(const std::vector<SDMFile>& models, int32_t nrOfVolumes) {
    for (const SDMFile& model : models) {
        if (model.nrOfDataPoints.value != nrOfVolumes) {
            throw std::runtime_error(fileNameOf(model.fileName) +
                                     " does not have the same number of volumes as the FMR");
        }
    }
}

} // namespace

bool quorvex::compareModels() {
    logLine(log.get(), ">  Start comparing models", true);
    const float threshold = host::cvGetFloatParameter("fmr_threshold");
    const OutputSwitches switches = readOutputSwitches();

    std::vector<SDMFile> models;
    models.push_back(readSDMFile(stringParameter("sdmfile1")));
    models.push_back(readSDMFile(stringParameter("sdmfile2")));
    for (SDMFile& model : models) {
        model.ensureConstant();
    }

    FMRHeader header;
    std::memset(&header, 0, sizeof header);
    host::cvGetHeaderOfCurrentFMR(&header);
    std::ostringstream size;
    size << ">  FMR size: " << header.DimX << " x " << header.DimY << " x " << header.DimZ << " x "
         << header.NrOfVolumes;
    logLine(log.get(), size.str(), true);
    checkRunGeometry(header);
    checkVolumeCounts(models, header.NrOfVolumes);
    checkPredictorCounts(models, header.NrOfVolumes);
    const std::string fmrPath = fmrFileName(header);
    checkOutputsAreDistinct(switches, models, fmrPath, header.NrOfVolumes);
    logLine(log.get(), ">  Start comparing models");

    float** data = host::cvGetSTCFloatDataOfCurrentFMR();
    if (data == nullptr) {
        throw std::runtime_error("The host gave no time-course data for the current FMR");
    }
    Vector selectors[2] = {confoundSelector(models[0]), confoundSelector(models[1])};
    PreparedModel prepared[2];
    for (int i = 0; i < 2; ++i) {
        prepared[i].X = designMatrix(models[i]);
        const ModelPseudoInverse inverse = prepareModelPseudoInverse(prepared[i].X);
        prepared[i].P = inverse.P;
        if (inverse.doublePrecision) {
            logLine(log.get(), illConditionedMessage(models[i].fileName, inverse.residual));
        }
        prepared[i].confoundSelector = selectors[i];
    }

    const VolumeSize dim{header.DimX, header.DimY, header.DimZ};
    const bool(&keepResiduals)[2] = switches.residuals;
    const VoxelLoopResults results = runVoxelLoop(data, header.NrOfVolumes, dim, threshold, prepared, keepResiduals);

    for (int i = 0; i < 2; ++i) {
        if (keepResiduals[i]) {
            saveResiduals(log.get(), models[i], results.residuals[i], results.mask, data, fmrPath);
        }
    }
    saveRequestedMaps(log.get(), switches, models, results, header.NrOfVolumes);
    return true;
}
