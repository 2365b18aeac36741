#include "host/research/VoxelSelection.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/core/AnalysedVoxels.h"
#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"

namespace corvantis {

namespace {

// The value at fraction of the way through sorted values (nearest rank, interpolated).
double percentile(std::vector<double>& values, double fraction) {
    const double position = fraction * static_cast<double>(values.size() - 1);
    const std::size_t below = static_cast<std::size_t>(std::floor(position));
    const std::size_t above = std::min(below + 1, values.size() - 1);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(below), values.end());
    const double low = values[below];
    const double high =
        above == below ? low : *std::min_element(values.begin() + static_cast<std::ptrdiff_t>(above), values.end());
    return low + (position - static_cast<double>(below)) * (high - low);
}

std::string shapeText(int x, int y, int z) {
    return std::to_string(x) + "x" + std::to_string(y) + "x" + std::to_string(z);
}

// The transform a reader would place the voxels by: the sform when set, else the qform.
const mat44* placement(const nifti_image& image) {
    if (image.sform_code > 0) return &image.sto_xyz;
    if (image.qform_code > 0) return &image.qto_xyz;
    return nullptr;
}

// Whether two transforms differ by more than a hundredth of a millimetre.
bool samePlacement(const mat44& a, const mat44& b) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            if (std::fabs(a.m[i][j] - b.m[i][j]) > 0.01f) return false;
        }
    }
    return true;
}

std::optional<std::string> placementWarning(const nifti_image& mask, const std::string& maskPath,
                                            const std::string& runPath) {
    NiftiImagePtr run;
    try {
        run = readNiftiImage(runPath, false);
    } catch (const DocumentError&) {
        return std::nullopt; // an .fmr run has no transform to compare with
    }
    const mat44* a = placement(mask);
    const mat44* b = placement(*run);
    if (a == nullptr || b == nullptr || samePlacement(*a, *b)) return std::nullopt;
    return "the mask " + inQuotes(maskPath) + " places its voxels in space differently from the run " +
           inQuotes(runPath) + " (another voxel-to-world transform): check that it was made for this run";
}

} // namespace

AutomaticThreshold automaticThreshold(const TimeCourses& courses) {
    std::vector<double> sums(static_cast<std::size_t>(courses.voxels()), 0.0);
    for (int32_t v = 0; v < courses.volumes(); ++v) {
        for (int32_t l = 0; l < courses.voxels(); ++l) sums[static_cast<std::size_t>(l)] += courses.floatValue(v, l);
    }
    std::vector<double> means;
    means.reserve(sums.size());
    for (const double sum : sums) {
        const double mean = sum / courses.volumes();
        if (std::isfinite(mean)) means.push_back(mean);
    }
    AutomaticThreshold automatic;
    if (means.empty()) return automatic;
    automatic.lowPercentile = percentile(means, 0.02);
    automatic.highPercentile = percentile(means, 0.98);
    automatic.threshold =
        static_cast<float>(automatic.lowPercentile + 0.1 * (automatic.highPercentile - automatic.lowPercentile));
    return automatic;
}

int64_t BrainMask::insideCount() const {
    return static_cast<int64_t>(std::count(inside.begin(), inside.end(), static_cast<unsigned char>(1)));
}

BrainMask readBrainMask(const std::string& path, const RunLayout& run, const std::string& runPath) {
    const NiftiImagePtr image = readNiftiImage(path, true);
    const bool threeD = image->dim[0] == 3 || (image->dim[0] == 4 && image->nt == 1);
    if (!threeD || image->nx != run.dimX || image->ny != run.dimY || image->nz != run.dimZ) {
        const std::string shape = threeD ? shapeText(image->nx, image->ny, image->nz)
                                         : std::to_string(image->dim[0]) + "D image of " +
                                               shapeText(image->nx, image->ny, image->nz) + "x" +
                                               std::to_string(image->nt);
        throw DocumentError("the mask " + inQuotes(path) + " is " + shape + " but the run " + inQuotes(runPath) +
                            " is " + shapeText(run.dimX, run.dimY, run.dimZ) +
                            " per volume; a mask must be a 3D image on the run's grid");
    }
    BrainMask mask{path, std::vector<unsigned char>(static_cast<std::size_t>(run.voxels()), 0),
                   placementWarning(*image, path, runPath)};
    for (std::size_t i = 0; i < mask.inside.size(); ++i) {
        const double value = scaledValue(*image, i);
        mask.inside[i] = std::isfinite(value) && value != 0.0;
    }
    return mask;
}

MaskHandover handOverMask(TimeCourses& courses, const BrainMask& mask) {
    float insideMinimum = std::numeric_limits<float>::infinity();
    for (int32_t v = 0; v < courses.volumes(); ++v) {
        for (int32_t l = 0; l < courses.voxels(); ++l) {
            const float value = courses.floatValue(v, l);
            if (mask.inside[static_cast<std::size_t>(l)] && value < insideMinimum) insideMinimum = value;
        }
    }
    MaskHandover handover;
    if (!(insideMinimum > 0.0f)) {
        handover.outsideValue = std::numeric_limits<float>::quiet_NaN();
        handover.threshold = std::numeric_limits<float>::lowest();
    }
    float* const* volumes = courses.floatVolumes();
    for (int32_t v = 0; v < courses.volumes(); ++v) {
        for (int32_t l = 0; l < courses.voxels(); ++l) {
            if (!mask.inside[static_cast<std::size_t>(l)]) volumes[v][l] = handover.outsideValue;
        }
    }
    handover.insideUnusable = mask.insideCount() - countAnalysedVoxels(courses, handover.threshold);
    return handover;
}

} // namespace corvantis
