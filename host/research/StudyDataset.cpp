#include "host/research/StudyDataset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>

#include <nlohmann/json.hpp>

#include "host/formats/AtomicFile.h"
#include "host/formats/NiftiImage.h"
#include "host/formats/NiftiWriter.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Course = std::vector<double>;
using TableColumn = std::vector<std::optional<double>>;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTr = 2.0;            // seconds
constexpr double kVoxelMm = 3.0;       // isotropic voxels
constexpr double kHeadRadiusMm = 50.0; // turns rotations (radians) into displacements
constexpr int kAnatomicalComponents = 8;
constexpr int kTemporalComponents = 3;

enum class Tissue { Outside, Csf, WhiteMatter, GreyMatter };

struct Voxel {
    Tissue tissue = Tissue::Outside;
    double radius = 2.0; // relative to the head's surface: below 1 inside
};

// The head: an ellipsoid with ventricles (csf) at its centre, white matter
// around them and a grey-matter shell.
Voxel voxelAt(const StudyDatasetShape& shape, int32_t x, int32_t y, int32_t z) {
    const double dx = (x + 0.5 - shape.dimX / 2.0) / (shape.dimX * 0.44);
    const double dy = (y + 0.5 - shape.dimY / 2.0) / (shape.dimY * 0.46);
    const double dz = (z + 0.5 - shape.dimZ / 2.0) / (shape.dimZ * 0.47);
    Voxel voxel;
    voxel.radius = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (voxel.radius >= 1.0) {
        voxel.tissue = Tissue::Outside;
    } else if (voxel.radius < 0.3) {
        voxel.tissue = Tissue::Csf;
    } else if (voxel.radius < 0.6) {
        voxel.tissue = Tissue::WhiteMatter;
    } else {
        voxel.tissue = Tissue::GreyMatter;
    }
    return voxel;
}

// Smooth noise: a first-order autoregressive course of unit variance.
Course autoregressive(int32_t volumes, double phi, std::mt19937& rng) {
    std::normal_distribution<double> innovation(0.0, std::sqrt(1.0 - phi * phi));
    Course course(static_cast<std::size_t>(volumes));
    double value = innovation(rng) / std::sqrt(1.0 - phi * phi);
    for (double& v : course) {
        value = phi * value + innovation(rng);
        v = value;
    }
    return course;
}

Course derivative(const Course& course) {
    Course d(course.size(), 0.0);
    for (std::size_t t = 1; t < course.size(); ++t) d[t] = course[t] - course[t - 1];
    return d;
}

struct Motion {
    std::vector<Course> translations; // mm
    std::vector<Course> rotations;    // radians
};

// Random walks from the first volume's position; the heavy run moves six times
// as much and jerks twice.
Motion headMotion(int32_t volumes, bool heavy, std::mt19937& rng) {
    const double scale = heavy ? 6.0 : 1.0;
    std::normal_distribution<double> translationStep(0.0, 0.03 * scale);
    std::normal_distribution<double> rotationStep(0.0, 0.0005 * scale);
    Motion motion{std::vector<Course>(3, Course(static_cast<std::size_t>(volumes))),
                  std::vector<Course>(3, Course(static_cast<std::size_t>(volumes)))};
    for (int k = 0; k < 3; ++k) {
        double position = 0.0, angle = 0.0;
        for (int32_t t = 1; t < volumes; ++t) {
            position += translationStep(rng);
            angle += rotationStep(rng);
            if (heavy && (t == volumes / 3 || t == (2 * volumes) / 3)) {
                position += 1.2 * (k == 1 ? -1.0 : 1.0);
                angle += 0.012;
            }
            motion.translations[static_cast<std::size_t>(k)][static_cast<std::size_t>(t)] = position;
            motion.rotations[static_cast<std::size_t>(k)][static_cast<std::size_t>(t)] = angle;
        }
    }
    return motion;
}

// The discrete cosines a high-pass filter of 128 s removes, as pipelines list them.
std::vector<Course> cosines(int32_t volumes) {
    const int count = static_cast<int>(std::floor(2.0 * volumes * kTr / 128.0));
    std::vector<Course> basis;
    for (int k = 1; k <= count; ++k) {
        Course c(static_cast<std::size_t>(volumes));
        for (int32_t t = 0; t < volumes; ++t) {
            c[static_cast<std::size_t>(t)] =
                std::sqrt(2.0 / volumes) * std::cos(kPi * (2.0 * t + 1.0) * k / (2.0 * volumes));
        }
        basis.push_back(c);
    }
    return basis;
}

struct Event {
    double onset;
    double duration;
    std::string trialType;
};

// 15-second blocks every 30 seconds, alternating between two conditions.
std::vector<Event> blockEvents(int32_t volumes) {
    std::vector<Event> events;
    const double length = volumes * kTr;
    for (int k = 0; 10.0 + 30.0 * k + 15.0 <= length; ++k) {
        events.push_back({10.0 + 30.0 * k, 15.0, k % 2 == 0 ? "visual" : "motor"});
    }
    return events;
}

// The response to one condition: its blocks at 0.1 s resolution convolved with
// a gamma-shaped response peaking near 5 s, sampled at each volume.
Course response(const std::vector<Event>& events, const std::string& trialType, int32_t volumes) {
    Course course(static_cast<std::size_t>(volumes), 0.0);
    for (int32_t t = 0; t < volumes; ++t) {
        const double now = t * kTr;
        double sum = 0.0;
        for (double s = 0.0; s < 30.0; s += 0.1) {
            bool on = false;
            for (const Event& e : events) {
                on = on || (e.trialType == trialType && now - s >= e.onset && now - s < e.onset + e.duration);
            }
            if (on) sum += std::pow(s, 5.0) * std::exp(-s) / 120.0 * 0.1;
        }
        course[static_cast<std::size_t>(t)] = sum;
    }
    return course;
}

// Zero mean and unit sum of squares, as component columns are written.
Course unitComponent(Course course) {
    double mean = 0.0, squares = 0.0;
    for (double v : course) mean += v;
    mean /= static_cast<double>(course.size());
    for (double& v : course) {
        v -= mean;
        squares += v * v;
    }
    for (double& v : course) v /= std::sqrt(squares);
    return course;
}

// The latent courses of one run: what the voxels carry and the table describes.
struct RunSignals {
    Motion motion;
    std::vector<Course> motionLeak; // six courses in mm of displacement, then their derivatives
    Course csf, whiteMatter, global;
    std::vector<Course> anatomicalComponents, temporalComponents, drifts;
    Course visual, motor;
    std::vector<Event> events;
};

RunSignals runSignals(int32_t volumes, bool heavy, std::mt19937& rng) {
    RunSignals s;
    s.motion = headMotion(volumes, heavy, rng);
    for (const Course& c : s.motion.translations) s.motionLeak.push_back(c);
    for (const Course& c : s.motion.rotations) {
        Course mm = c;
        for (double& v : mm) v *= kHeadRadiusMm;
        s.motionLeak.push_back(mm);
    }
    for (std::size_t k = 0; k < 6; ++k) s.motionLeak.push_back(derivative(s.motionLeak[k]));
    s.csf = autoregressive(volumes, 0.6, rng);
    s.whiteMatter = autoregressive(volumes, 0.85, rng);
    s.global = autoregressive(volumes, 0.7, rng);
    for (int k = 0; k < kAnatomicalComponents; ++k) s.anatomicalComponents.push_back(autoregressive(volumes, 0.5, rng));
    for (int k = 0; k < kTemporalComponents; ++k) s.temporalComponents.push_back(autoregressive(volumes, 0.3, rng));
    s.drifts = cosines(volumes);
    s.events = blockEvents(volumes);
    s.visual = response(s.events, "visual", volumes);
    s.motor = response(s.events, "motor", volumes);
    return s;
}

// How strongly one voxel carries each latent course.
struct Loadings {
    bool inside = false;
    double baseline = 0, noise = 0;
    double motion[12] = {}, motionSquared[6] = {};
    double csf = 0, whiteMatter = 0, global = 0;
    double anatomical[2] = {}, temporal = 0;
    double drift[8] = {};
    double visual = 0, motor = 0;
};

Loadings loadingsOf(const StudyDatasetShape& shape, int32_t x, int32_t y, int32_t z, const Voxel& voxel,
                    std::mt19937& rng) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Loadings l;
    if (voxel.tissue == Tissue::Outside) {
        l.baseline = 80.0;
        l.noise = 30.0;
        return l;
    }
    l.inside = true;
    l.baseline = voxel.tissue == Tissue::Csf           ? 9800.0
                 : voxel.tissue == Tissue::WhiteMatter ? 6200.0
                                                       : 7000.0 + 1500.0 * std::cos(3.0 * voxel.radius);
    l.noise = 70.0;
    // Motion moves intensity most where the image changes fastest: the head's edge.
    const double edge = std::exp(-std::pow((1.0 - voxel.radius) / 0.2, 2.0));
    for (double& w : l.motion) w = 220.0 * edge * uniform(rng);
    for (double& w : l.motionSquared) w = 60.0 * edge * uniform(rng);
    l.csf = (voxel.tissue == Tissue::Csf ? 60.0 : 16.0) * (0.6 + 0.4 * uniform(rng));
    l.whiteMatter = (voxel.tissue == Tissue::WhiteMatter ? 45.0 : 12.0) * (0.6 + 0.4 * uniform(rng));
    l.global = 18.0 * (0.8 + 0.2 * uniform(rng));
    for (double& w : l.anatomical) w = 40.0 * uniform(rng);
    l.temporal = 30.0 * uniform(rng);
    for (double& w : l.drift) w = 900.0 * uniform(rng);
    if (voxel.tissue == Tissue::GreyMatter) {
        if (y < shape.dimY / 3) l.visual = 0.03 * l.baseline;
        if (z >= (2 * shape.dimZ) / 3 && x < shape.dimX / 2) l.motor = 0.025 * l.baseline;
    }
    return l;
}

double voxelValue(const Loadings& l, const RunSignals& s, std::size_t t, std::normal_distribution<double>& noise,
                  std::mt19937& rng) {
    double v = l.baseline + l.noise * noise(rng);
    if (!l.inside) return std::fabs(v);
    for (std::size_t k = 0; k < 12; ++k) v += l.motion[k] * s.motionLeak[k][t];
    for (std::size_t k = 0; k < 6; ++k) v += l.motionSquared[k] * s.motionLeak[k][t] * s.motionLeak[k][t];
    v += l.csf * s.csf[t] + l.whiteMatter * s.whiteMatter[t] + l.global * s.global[t];
    v += l.anatomical[0] * s.anatomicalComponents[0][t] + l.anatomical[1] * s.anatomicalComponents[1][t];
    v += l.temporal * s.temporalComponents[0][t];
    for (std::size_t k = 0; k < s.drifts.size() && k < 8; ++k) v += l.drift[k] * s.drifts[k][t];
    v += l.visual * s.visual[t] + l.motor * s.motor[t];
    return v;
}

struct GeneratedRun {
    std::vector<float> values; // volume by volume, x fastest
    std::vector<Voxel> voxels;
};

GeneratedRun generateRun(const StudyDatasetShape& shape, const RunSignals& signals, bool nonSteadyStart,
                         std::mt19937& rng) {
    GeneratedRun run;
    const std::size_t count = static_cast<std::size_t>(shape.dimX) * shape.dimY * shape.dimZ;
    run.values.resize(count * static_cast<std::size_t>(shape.volumes));
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int32_t z = 0; z < shape.dimZ; ++z) {
        for (int32_t y = 0; y < shape.dimY; ++y) {
            for (int32_t x = 0; x < shape.dimX; ++x) {
                const Voxel voxel = voxelAt(shape, x, y, z);
                const Loadings loadings = loadingsOf(shape, x, y, z, voxel, rng);
                const std::size_t l = run.voxels.size();
                run.voxels.push_back(voxel);
                for (int32_t t = 0; t < shape.volumes; ++t) {
                    const std::size_t ts = static_cast<std::size_t>(t);
                    double v = voxelValue(loadings, signals, ts, noise, rng);
                    // The first volume before the magnetisation settles is brighter.
                    if (t == 0 && nonSteadyStart) v *= 1.2;
                    run.values[ts * count + l] = static_cast<float>(v);
                }
            }
        }
    }
    return run;
}

// The mean over the voxels of one tissue, or of the whole head without one; a
// grid too coarse to hold any voxel of the tissue gives the whole head's.
Course tissueMean(const GeneratedRun& run, int32_t volumes, std::optional<Tissue> tissue) {
    if (tissue &&
        std::none_of(run.voxels.begin(), run.voxels.end(), [&](const Voxel& v) { return v.tissue == *tissue; })) {
        tissue.reset();
    }
    const std::size_t count = run.voxels.size();
    Course mean(static_cast<std::size_t>(volumes), 0.0);
    for (std::size_t t = 0; t < mean.size(); ++t) {
        double sum = 0.0;
        std::size_t n = 0;
        for (std::size_t l = 0; l < count; ++l) {
            const Tissue own = run.voxels[l].tissue;
            if (own == Tissue::Outside || (tissue && own != *tissue)) continue;
            sum += run.values[t * count + l];
            ++n;
        }
        mean[t] = sum / static_cast<double>(n);
    }
    return mean;
}

// The root mean square over the head of each volume's change; undefined first.
TableColumn dvars(const GeneratedRun& run, int32_t volumes) {
    const std::size_t count = run.voxels.size();
    TableColumn column(static_cast<std::size_t>(volumes));
    for (std::size_t t = 1; t < column.size(); ++t) {
        double sum = 0.0;
        std::size_t n = 0;
        for (std::size_t l = 0; l < count; ++l) {
            if (run.voxels[l].tissue == Tissue::Outside) continue;
            const double d = run.values[t * count + l] - run.values[(t - 1) * count + l];
            sum += d * d;
            ++n;
        }
        column[t] = std::sqrt(sum / static_cast<double>(n));
    }
    return column;
}

TableColumn defined(const Course& course) { return TableColumn(course.begin(), course.end()); }

struct TableColumns {
    std::vector<std::string> names;
    std::vector<TableColumn> columns;
    void add(const std::string& name, TableColumn column) {
        names.push_back(name);
        columns.push_back(std::move(column));
    }
    // The column, its derivative ("n/a" first), its square and its derivative's square.
    void addExpanded(const std::string& name, const Course& course) {
        TableColumn d(course.size()), d2(course.size()), squared(course.size());
        for (std::size_t t = 0; t < course.size(); ++t) {
            squared[t] = course[t] * course[t];
            if (t > 0) {
                d[t] = course[t] - course[t - 1];
                d2[t] = *d[t] * *d[t];
            }
        }
        add(name, defined(course));
        add(name + "_derivative1", d);
        add(name + "_power2", squared);
        add(name + "_derivative1_power2", d2);
    }
};

std::string twoDigits(int k) { return (k < 10 ? "0" : "") + std::to_string(k); }

TableColumns confoundColumns(const GeneratedRun& run, const RunSignals& s, int32_t volumes, bool nonSteadyStart,
                             Json& sidecar) {
    TableColumns table;
    table.addExpanded("global_signal", tissueMean(run, volumes, std::nullopt));
    table.addExpanded("csf", tissueMean(run, volumes, Tissue::Csf));
    table.addExpanded("white_matter", tissueMean(run, volumes, Tissue::WhiteMatter));
    const TableColumn rawDvars = dvars(run, volumes);
    double mean = 0.0;
    for (std::size_t t = 1; t < rawDvars.size(); ++t) mean += *rawDvars[t];
    mean /= static_cast<double>(rawDvars.size() - 1);
    TableColumn standardized(rawDvars.size());
    for (std::size_t t = 1; t < rawDvars.size(); ++t) standardized[t] = *rawDvars[t] / mean;
    table.add("std_dvars", standardized);
    table.add("dvars", rawDvars);
    TableColumn fd(static_cast<std::size_t>(volumes));
    for (std::size_t t = 1; t < fd.size(); ++t) {
        double sum = 0.0;
        for (std::size_t k = 0; k < 6; ++k) sum += std::fabs(s.motionLeak[6 + k][t]);
        fd[t] = sum;
    }
    table.add("framewise_displacement", fd);

    double cumulative = 0.0;
    for (int k = 0; k < kTemporalComponents; ++k) {
        const std::string name = "t_comp_cor_" + twoDigits(k);
        table.add(name, defined(unitComponent(s.temporalComponents[static_cast<std::size_t>(k)])));
        const double explained = 0.2 / (k + 1);
        cumulative += explained;
        sidecar[name] = {{"Method", "tCompCor"},
                         {"VarianceExplained", explained},
                         {"CumulativeVarianceExplained", cumulative},
                         {"Retained", true}};
    }
    // The anatomical components: four of the combined mask, then two each of csf and white matter.
    const char* const masks[kAnatomicalComponents] = {"combined", "combined", "combined", "combined",
                                                      "CSF",      "CSF",      "WM",       "WM"};
    double cumulativeOf[3] = {0.0, 0.0, 0.0};
    for (int k = 0; k < kAnatomicalComponents; ++k) {
        const std::string name = "a_comp_cor_" + twoDigits(k);
        table.add(name, defined(unitComponent(s.anatomicalComponents[static_cast<std::size_t>(k)])));
        const int group = k < 4 ? 0 : k < 6 ? 1 : 2;
        const int rank = k < 4 ? k : k < 6 ? k - 4 : k - 6;
        const double explained = 0.3 / (rank + 1);
        cumulativeOf[group] += explained;
        sidecar[name] = {{"Method", "aCompCor"},
                         {"Mask", masks[k]},
                         {"VarianceExplained", explained},
                         {"CumulativeVarianceExplained", cumulativeOf[group]},
                         {"Retained", true}};
    }
    for (int k = 0; k < 2; ++k) {
        cumulativeOf[0] += 0.02;
        sidecar["dropped_" + std::to_string(k)] = {{"Method", "aCompCor"},
                                                   {"Mask", "combined"},
                                                   {"VarianceExplained", 0.02},
                                                   {"CumulativeVarianceExplained", cumulativeOf[0]},
                                                   {"Retained", false}};
    }
    for (std::size_t k = 0; k < s.drifts.size(); ++k) {
        table.add("cosine" + twoDigits(static_cast<int>(k)), defined(s.drifts[k]));
    }
    if (nonSteadyStart) {
        TableColumn outlier(static_cast<std::size_t>(volumes), 0.0);
        outlier[0] = 1.0;
        table.add("non_steady_state_outlier00", outlier);
    }
    const char* const axes[3] = {"x", "y", "z"};
    for (std::size_t k = 0; k < 3; ++k) table.addExpanded(std::string("trans_") + axes[k], s.motion.translations[k]);
    for (std::size_t k = 0; k < 3; ++k) table.addExpanded(std::string("rot_") + axes[k], s.motion.rotations[k]);
    return table;
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    writeFileAtomically(path, text.data(), text.size());
}

void writeJson(const fs::path& path, const Json& json) { writeText(path, json.dump(2) + "\n"); }

std::string tableText(const TableColumns& table) {
    std::ostringstream out;
    out << std::setprecision(10);
    for (std::size_t c = 0; c < table.names.size(); ++c) out << (c ? "\t" : "") << table.names[c];
    out << "\n";
    for (std::size_t t = 0; t < table.columns.front().size(); ++t) {
        for (std::size_t c = 0; c < table.columns.size(); ++c) {
            out << (c ? "\t" : "");
            const std::optional<double>& v = table.columns[c][t];
            if (v) {
                out << *v;
            } else {
                out << "n/a";
            }
        }
        out << "\n";
    }
    return out.str();
}

std::string eventsText(const std::vector<Event>& events) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(1) << "onset\tduration\ttrial_type\n";
    for (const Event& e : events) out << e.onset << "\t" << e.duration << "\t" << e.trialType << "\n";
    return out.str();
}

// 3 mm voxels centred on the origin, in template space, in both the qform and the sform.
void placeInTemplateSpace(nifti_image& image, const StudyDatasetShape& shape, int32_t volumes) {
    image.dx = image.pixdim[1] = static_cast<float>(kVoxelMm);
    image.dy = image.pixdim[2] = static_cast<float>(kVoxelMm);
    image.dz = image.pixdim[3] = static_cast<float>(kVoxelMm);
    if (volumes > 1) {
        image.dt = image.pixdim[4] = static_cast<float>(kTr);
        image.time_units = NIFTI_UNITS_SEC;
    }
    image.xyz_units = NIFTI_UNITS_MM;
    mat44 m;
    std::memset(&m, 0, sizeof m);
    m.m[0][0] = m.m[1][1] = m.m[2][2] = static_cast<float>(kVoxelMm);
    m.m[0][3] = static_cast<float>(-kVoxelMm * shape.dimX / 2.0);
    m.m[1][3] = static_cast<float>(-kVoxelMm * shape.dimY / 2.0);
    m.m[2][3] = static_cast<float>(-kVoxelMm * shape.dimZ / 2.0);
    m.m[3][3] = 1.0f;
    image.sform_code = image.qform_code = NIFTI_XFORM_MNI_152;
    image.sto_xyz = image.qto_xyz = m;
    image.sto_ijk = image.qto_ijk = nifti_mat44_inverse(m);
    nifti_mat44_to_quatern(m, &image.quatern_b, &image.quatern_c, &image.quatern_d, &image.qoffset_x, &image.qoffset_y,
                           &image.qoffset_z, nullptr, nullptr, nullptr, &image.qfac);
}

void writeBold(const fs::path& path, const StudyDatasetShape& shape, const GeneratedRun& run) {
    const NiftiImagePtr image = newImage(shape.dimX, shape.dimY, shape.dimZ, shape.volumes, DT_FLOAT32);
    std::memcpy(image->data, run.values.data(), run.values.size() * sizeof(float));
    placeInTemplateSpace(*image, shape, shape.volumes);
    fs::create_directories(path.parent_path());
    writeNiftiImage(*image, path.string());
}

void writeMask(const fs::path& path, const StudyDatasetShape& shape, const GeneratedRun& run) {
    const NiftiImagePtr image = newImage(shape.dimX, shape.dimY, shape.dimZ, 1, DT_UINT8);
    auto* bytes = static_cast<uint8_t*>(image->data);
    for (std::size_t l = 0; l < run.voxels.size(); ++l) bytes[l] = run.voxels[l].tissue != Tissue::Outside;
    placeInTemplateSpace(*image, shape, 1);
    writeNiftiImage(*image, path.string());
}

Json datasetDescription(const std::string& name, bool derivative) {
    Json json = {{"Name", name}, {"BIDSVersion", "1.8.0"}, {"DatasetType", derivative ? "derivative" : "raw"}};
    if (derivative) {
        json["GeneratedBy"] = Json::array({{{"Name", "Corvantis generate-study"},
                                            {"Description", "generated preprocessed runs with confound tables"}}});
    }
    return json;
}

} // namespace

bool isHeavyMotionRun(const StudyDatasetShape& shape, int32_t subject, int32_t run) {
    if (shape.subjects >= 2 && shape.runs >= 2) return subject == 2 && run == 2;
    return subject == shape.subjects && run == shape.runs;
}

StudyDatasetFiles writeStudyDataset(const std::string& folder, const StudyDatasetShape& shape) {
    const fs::path root(folder);
    StudyDatasetFiles files;
    files.derivatives = (root / "derivatives").string();
    files.rawdata = (root / "rawdata").string();
    writeJson(root / "rawdata" / "dataset_description.json", datasetDescription("Generated study", false));
    writeJson(root / "rawdata" / ("task-" + shape.task + "_bold.json"),
              Json{{"TaskName", shape.task}, {"RepetitionTime", kTr}});
    writeJson(root / "derivatives" / "dataset_description.json",
              datasetDescription("Generated study, preprocessed", true));
    for (int32_t subject = 1; subject <= shape.subjects; ++subject) {
        const std::string sub = "sub-" + twoDigits(subject);
        for (int32_t r = 1; r <= shape.runs; ++r) {
            const bool heavy = isHeavyMotionRun(shape, subject, r);
            // One run starts before the magnetisation settles, as the table marks.
            const bool nonSteadyStart = subject == 1 && r == 1;
            std::mt19937 rng(shape.seed * 7919u + static_cast<uint32_t>(subject) * 101u + static_cast<uint32_t>(r));
            const RunSignals signals = runSignals(shape.volumes, heavy, rng);
            const GeneratedRun run = generateRun(shape, signals, nonSteadyStart, rng);
            const std::string stem = sub + "_task-" + shape.task + "_run-" + std::to_string(r);
            const fs::path func = root / "derivatives" / sub / "func";
            const fs::path bold = func / (stem + "_space-MNI_desc-preproc_bold.nii.gz");
            writeBold(bold, shape, run);
            writeMask(func / (stem + "_space-MNI_desc-brain_mask.nii.gz"), shape, run);
            writeJson(func / (stem + "_space-MNI_desc-preproc_bold.json"),
                      Json{{"RepetitionTime", kTr}, {"TaskName", shape.task}, {"SkullStripped", false}});
            Json sidecar = Json::object();
            const TableColumns table = confoundColumns(run, signals, shape.volumes, nonSteadyStart, sidecar);
            writeText(func / (stem + "_desc-confounds_timeseries.tsv"), tableText(table));
            writeJson(func / (stem + "_desc-confounds_timeseries.json"), sidecar);
            writeText(root / "rawdata" / sub / "func" / (stem + "_events.tsv"), eventsText(signals.events));
            files.boldRuns.push_back(bold.string());
            if (heavy) files.heavyMotionRun = bold.string();
        }
    }
    return files;
}

} // namespace corvantis
