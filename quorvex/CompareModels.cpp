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
#include "quorvex/RunGeometry.h"
#include "quorvex/VoxelLoop.h"
#include "quorvex/quorvex.h"

namespace {

bool switchParameter(const char* name) { return host::cvGetIntParameter(name) != 0; }

OutputSwitches readSwitches() {
    OutputSwitches s{};
    s.tSNR1 = switchParameter("tSNR1");
    s.tSNR2 = switchParameter("tSNR2");
    s.tSNR3 = switchParameter("tSNR3");
    s.R2adj1 = switchParameter("R2adj1");
    s.R2adj2 = switchParameter("R2adj2");
    s.R2adj3 = switchParameter("R2adj3");
    s.Fmap = switchParameter("Fmap");
    s.residuals1 = switchParameter("residuals1");
    s.residuals2 = switchParameter("residuals2");
    return s;
}

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
    const OutputSwitches switches = readSwitches();

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
    const bool keepResiduals[2] = {switches.residuals1, switches.residuals2};
    const VoxelLoopResults results =
        runVoxelLoop(data, header.NrOfVolumes, dim, threshold, prepared, keepResiduals);

    const std::string fmrPath = fmrFileName(header);
    for (int i = 0; i < 2; ++i) {
        if (keepResiduals[i]) {
            saveResiduals(log.get(), models[i], results.residuals[i], results.mask, data, fmrPath);
        }
    }
    saveRequestedMaps(log.get(), switches, models, results, header.NrOfVolumes);
    return true;
}
