#include "host/research/DemoRun.h"

#include <cmath>
#include <filesystem>
#include <iomanip>
#include <ostream>
#include <random>
#include <sstream>
#include <vector>

#include "host/formats/AtomicFile.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;

using Column = std::vector<double>;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTrSeconds = 2.0;

// A block design, 20 s on and 20 s off, convolved with a gamma-shaped response.
Column taskRegressor(int32_t volumes) {
    Column boxcar(static_cast<std::size_t>(volumes));
    for (int32_t t = 0; t < volumes; ++t) {
        boxcar[static_cast<std::size_t>(t)] = static_cast<int32_t>(t * kTrSeconds / 20.0) % 2 == 1 ? 1.0 : 0.0;
    }
    Column response(boxcar.size(), 0.0);
    for (std::size_t t = 0; t < boxcar.size(); ++t) {
        for (std::size_t k = 0; k <= t && k < 16; ++k) {
            const double s = static_cast<double>(k) * kTrSeconds;
            const double h = std::pow(s, 5.0) * std::exp(-s) / 120.0; // peaks near 5 s
            response[t] += boxcar[t - k] * h * kTrSeconds;
        }
    }
    return response;
}

// Discrete cosines of the lowest frequencies, the usual drift model.
Column cosine(int32_t volumes, int order) {
    Column c(static_cast<std::size_t>(volumes));
    for (int32_t t = 0; t < volumes; ++t) {
        c[static_cast<std::size_t>(t)] = std::cos(kPi * order * (t + 0.5) / volumes);
    }
    return c;
}

// Six random-walk motion parameters (mm and degrees), each centred.
std::vector<Column> motionParameters(int32_t volumes, std::mt19937& rng) {
    std::normal_distribution<double> step(0.0, 0.04);
    std::vector<Column> motion(6, Column(static_cast<std::size_t>(volumes)));
    for (Column& parameter : motion) {
        double position = 0.0, mean = 0.0;
        for (double& value : parameter) {
            position += step(rng);
            value = position;
            mean += position;
        }
        mean /= volumes;
        for (double& value : parameter) value -= mean;
    }
    return motion;
}

std::string formatDesign(const std::vector<Column>& columns, const std::vector<std::string>& names,
                         int32_t firstConfound) {
    std::ostringstream out;
    const std::size_t points = columns.front().size();
    out << "FileVersion:            1\n\nNrOfPredictors:         " << columns.size()
        << "\nNrOfDataPoints:         " << points
        << "\nIncludesConstant:       0\nFirstConfoundPredictor: " << firstConfound << "\n\n";
    for (std::size_t j = 0; j < columns.size(); ++j) {
        out << (j == 0 ? "255 0 0" : "80 80 200") << "\n";
    }
    for (std::size_t j = 0; j < names.size(); ++j) out << (j ? " " : "") << '"' << names[j] << '"';
    out << "\n" << std::fixed << std::setprecision(6);
    for (std::size_t t = 0; t < points; ++t) {
        for (std::size_t j = 0; j < columns.size(); ++j) out << (j ? " " : "") << columns[j][t];
        out << "\n";
    }
    return out.str();
}

void writeText(const fs::path& path, const std::string& text) {
    writeFileAtomically(path, [&](std::ostream& out) { out << text; });
}

// Position of a voxel relative to the head, an ellipsoid filling most of the grid:
// below 1 inside, the larger the further out.
double headRadius(const DemoRunSpec& shape, int32_t x, int32_t y, int32_t z) {
    const double dx = (x + 0.5 - shape.dimX / 2.0) / (shape.dimX * 0.42);
    const double dy = (y + 0.5 - shape.dimY / 2.0) / (shape.dimY * 0.45);
    const double dz = (z + 0.5 - shape.dimZ / 2.0) / (shape.dimZ * 0.48);
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

std::vector<float> timeCourses(const DemoRunSpec& shape, const Column& task, const std::vector<Column>& drifts,
                               const std::vector<Column>& motion, std::mt19937& rng) {
    const std::size_t voxels = static_cast<std::size_t>(shape.dimX) * shape.dimY * shape.dimZ;
    std::vector<float> values(voxels * static_cast<std::size_t>(shape.volumes));
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::size_t l = 0;
    for (int32_t z = 0; z < shape.dimZ; ++z) {
        for (int32_t y = 0; y < shape.dimY; ++y) {
            for (int32_t x = 0; x < shape.dimX; ++x, ++l) {
                const double r = headRadius(shape, x, y, z);
                const bool inside = r < 1.0;
                const double baseline = inside ? 900.0 + 250.0 * std::cos(3.0 * r) : 12.0;
                const double sigma = inside ? 9.0 : 4.0;
                // Motion moves intensity most where the image changes fastest: the head's edge.
                const double edge = inside ? std::exp(-std::pow((1.0 - r) / 0.15, 2.0)) : 0.0;
                const bool active = inside && x > shape.dimX / 2 && y < shape.dimY / 2 && z >= shape.dimZ / 3;
                double weights[6], driftWeights[3];
                for (double& w : weights) w = 60.0 * edge * uniform(rng);
                for (double& w : driftWeights) w = inside ? 15.0 * uniform(rng) : 0.0;
                for (int32_t t = 0; t < shape.volumes; ++t) {
                    const std::size_t ts = static_cast<std::size_t>(t);
                    double v = baseline + (active ? 0.02 * baseline * task[ts] : 0.0);
                    for (std::size_t k = 0; k < drifts.size(); ++k) v += driftWeights[k] * drifts[k][ts];
                    for (std::size_t k = 0; k < 6; ++k) v += weights[k] * motion[k][ts];
                    v += sigma * noise(rng);
                    values[ts * voxels + l] = static_cast<float>(std::fabs(v));
                }
            }
        }
    }
    return values;
}

} // namespace

DemoRunFiles writeDemoRun(const std::string& folder, const DemoRunSpec& shape) {
    std::mt19937 rng(shape.seed);
    const Column task = taskRegressor(shape.volumes);
    const std::vector<Column> drifts = {cosine(shape.volumes, 1), cosine(shape.volumes, 2), cosine(shape.volumes, 3)};
    const std::vector<Column> motion = motionParameters(shape.volumes, rng);
    const std::vector<float> values = timeCourses(shape, task, drifts, motion, rng);

    const fs::path dir(folder);
    fs::create_directories(dir);
    writeFileAtomically(dir / "run.stc", [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(values.data()),
                  static_cast<std::streamsize>(values.size() * sizeof(float)));
    });
    std::ostringstream fmr;
    fmr << "# A generated demo run: " << shape.dimX << " x " << shape.dimY << " x " << shape.dimZ << " voxels, "
        << shape.volumes << " volumes\nNrOfVolumes: " << shape.volumes << "\nDimX: " << shape.dimX
        << "\nDimY: " << shape.dimY << "\nDimZ: " << shape.dimZ << "\nDataType: 2\nSTCFile: run.stc\nTR: 2000\n"
        << "VoxelSizeX: 3\nVoxelSizeY: 3\nVoxelSizeZ: 3\n";
    writeText(dir / "run.fmr", fmr.str());

    std::vector<Column> columns1 = {task};
    std::vector<std::string> names1 = {"Task"};
    for (std::size_t k = 0; k < drifts.size(); ++k) {
        columns1.push_back(drifts[k]);
        names1.push_back("Drift " + std::to_string(k + 1));
    }
    std::vector<Column> columns2 = columns1;
    std::vector<std::string> names2 = names1;
    const char* const motionNames[6] = {"Translation X", "Translation Y", "Translation Z",
                                        "Rotation X",    "Rotation Y",    "Rotation Z"};
    for (std::size_t k = 0; k < 6; ++k) {
        columns2.push_back(motion[k]);
        names2.push_back(motionNames[k]);
    }
    writeText(dir / "model1_drift.sdm", formatDesign(columns1, names1, 2));
    writeText(dir / "model2_drift_motion.sdm", formatDesign(columns2, names2, 2));
    return DemoRunFiles{fs::absolute(dir / "run.fmr").string(), fs::absolute(dir / "model1_drift.sdm").string(),
                        fs::absolute(dir / "model2_drift_motion.sdm").string()};
}

} // namespace corvantis
