#include "Scenario.h"

#include <cstring>
#include <fstream>
#include <iomanip>
#include <random>
#include <stdexcept>

#include "design/DesignMatrix.h"
#include "design/SDMReader.h"
#include "quorvex/ModelPreparation.h"

namespace itest {

void writeDesign(const std::string& path, const Design& design, const std::string& lineEnd) {
    const std::size_t count = design.columns.size();
    const std::size_t points = count == 0 ? 0 : design.columns[0].size();
    std::ofstream out(path, std::ios::binary);
    out << "FileVersion:          1" << lineEnd << lineEnd << "NrOfPredictors:       " << count << lineEnd
        << "NrOfDataPoints:       " << points << lineEnd << "IncludesConstant:     0" << lineEnd
        << "FirstConfoundPredictor: " << design.firstConfound << lineEnd << lineEnd;
    for (std::size_t j = 0; j < count; ++j) out << "255 0 " << j << lineEnd;
    for (std::size_t j = 0; j < count; ++j) out << (j ? " " : "") << "\"p" << j + 1 << '"';
    out << lineEnd << std::fixed << std::setprecision(6);
    for (std::size_t t = 0; t < points; ++t) {
        for (std::size_t j = 0; j < count; ++j) out << (j ? " " : "") << design.columns[j][t];
        out << lineEnd;
    }
}

std::vector<float> readFloats(const std::string& path) {
    const std::string bytes = hosttest::readFile(path);
    std::vector<float> values(bytes.size() / sizeof(float));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    return values;
}

MapFile readMap(const std::string& path) {
    const std::string bytes = hosttest::readFile(path);
    if (bytes.size() < 72 || bytes.compare(0, 8, "CVMAP01\n") != 0) {
        throw std::runtime_error("not a map file: " + path);
    }
    MapFile map;
    std::memcpy(&map.header, bytes.data() + 8, sizeof map.header);
    map.values.resize((bytes.size() - 72) / sizeof(float));
    std::memcpy(map.values.data(), bytes.data() + 72, map.values.size() * sizeof(float));
    return map;
}

Scenario::Scenario() {
    std::mt19937 rng(7);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    std::vector<float> task(volumes), drift(volumes), motion(volumes), spike(volumes), wobble(volumes);
    for (int32_t t = 0; t < volumes; ++t) {
        task[t] = (t / 4) % 2 == 0 ? 0.0f : 1.0f;
        drift[t] = static_cast<float>(t) / static_cast<float>(volumes) - 0.5f;
        motion[t] = normal(rng);
        spike[t] = t == 9 ? 1.0f : 0.0f;
        wobble[t] = normal(rng);
    }
    model1 = Design{2, {task, drift}};
    model2 = Design{2, {task, drift, motion, spike}};
    values.assign(static_cast<std::size_t>(voxels() * volumes), 0.0f);
    for (int32_t l = 0; l < voxels(); ++l) {
        const bool background = l % 5 == 0;
        for (int32_t t = 0; t < volumes; ++t) {
            at(l, t) = background ? 20.0f + normal(rng)
                                  : 500.0f + 4.0f * task[t] + 30.0f * drift[t] + 6.0f * motion[t] +
                                        0.1f * static_cast<float>(l) * wobble[t] + normal(rng);
        }
    }
    fmr = dir.file("run.fmr");
    sdm1 = dir.file("model1.sdm");
    sdm2 = dir.file("model2.sdm");
    write();
}

void Scenario::write() {
    hosttest::writeRun(dir.path(), "run", dimX, dimY, dimZ, volumes, 2, hosttest::floatBytes(values));
    writeDesign(sdm1, model1);
    writeDesign(sdm2, model2);
}

hosttest::Outcome Scenario::run(const std::vector<std::string>& extra, const std::vector<std::string>& tasks) const {
    std::vector<std::string> args = {"--fmr", fmr, "--set", "sdmfile1=" + sdm1, "--set", "sdmfile2=" + sdm2};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), tasks.begin(), tasks.end());
    return hosttest::runProgram(hosttest::corvantisProgram(), args);
}

VoxelLoopResults Scenario::expected(float threshold, bool keep1, bool keep2) const {
    SDMFile records[2] = {readSDMFile(sdm1), readSDMFile(sdm2)};
    PreparedModel models[2];
    for (int i = 0; i < 2; ++i) {
        records[i].ensureConstant();
        models[i].X = designMatrix(records[i]);
        models[i].P = pseudoInverse(models[i].X);
        models[i].confoundSelector = confoundSelector(records[i]);
    }
    // The reference loop holds every kept course in its list and leaves the data alone.
    std::vector<float> copy = values;
    std::vector<float*> data;
    for (int32_t v = 0; v < volumes; ++v) data.push_back(copy.data() + static_cast<std::size_t>(v * voxels()));
    const bool keep[2] = {keep1, keep2};
    return runVoxelLoop(data.data(), volumes, VolumeSize{dimX, dimY, dimZ}, threshold, models, keep,
                        VoxelLoopPath::reference);
}

} // namespace itest
