#include "host/formats/NiftiRun.h"

#include <cctype>
#include <filesystem>
#include <new>
#include <optional>
#include <sstream>

#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"

namespace corvantis {

namespace {

// The .fmr keeps TR in milliseconds; a header that names no unit means seconds.
double trMilliseconds(const nifti_image& image) {
    switch (image.time_units) {
    case NIFTI_UNITS_MSEC: return image.dt;
    case NIFTI_UNITS_USEC: return image.dt / 1000.0;
    default: return image.dt * 1000.0;
    }
}

// Voxel sizes in millimetres; a header that names no unit means millimetres.
double millimetres(const nifti_image& image, float size) {
    switch (image.xyz_units) {
    case NIFTI_UNITS_METER: return size * 1000.0;
    case NIFTI_UNITS_MICRON: return size / 1000.0;
    default: return size;
    }
}

void checkRunHeader(const nifti_image& image, const std::string& path) {
    if (image.dim[0] != 4) {
        throw DocumentError(inQuotes(path) + " is a " + std::to_string(image.dim[0]) +
                            "D image; a functional run is 4D (x, y, z, time)");
    }
    if (!isRealDataType(image.datatype)) {
        throw DocumentError(inQuotes(path) + " holds " + nifti_datatype_string(image.datatype) +
                            " values; a run holds real numbers");
    }
    // The plug-in counts voxels in 32 bits.
    if (static_cast<long long>(image.nx) * image.ny * image.nz > 2147483647LL) {
        throw DocumentError(inQuotes(path) + ": a run holds at most 2147483647 voxels");
    }
}

// Entry by entry, never as text to parse: the source's path may hold any byte,
// a line break too, and is kept as it is.
FmrText textOf(const nifti_image& image, const std::string& path) {
    const auto number = [](double value) {
        std::ostringstream text;
        text.precision(9);
        text << value;
        return text.str();
    };
    FmrText text;
    text.set("NrOfVolumes", std::to_string(image.nt));
    text.set("DimX", std::to_string(image.nx));
    text.set("DimY", std::to_string(image.ny));
    text.set("DimZ", std::to_string(image.nz));
    text.set("DataType", "2");
    text.set("TR", number(trMilliseconds(image)));
    text.set("VoxelSizeX", number(millimetres(image, image.dx)));
    text.set("VoxelSizeY", number(millimetres(image, image.dy)));
    text.set("VoxelSizeZ", number(millimetres(image, image.dz)));
    text.set(kNiftiSourceKey, std::filesystem::absolute(path).lexically_normal().string());
    return text;
}

// NIfTI stores x fastest, then y, z and time: the host's volume-major order,
// so the values go straight into the time courses.
TimeCourses timeCoursesOf(const nifti_image& header, const std::string& path, int threads) {
    const int32_t voxels = header.nx * header.ny * header.nz;
    checkClaimedValues(path, threads);
    std::optional<TimeCourses> timeCourses;
    try {
        timeCourses.emplace(header.nt, voxels, kDataTypeFloat32);
    } catch (const std::bad_alloc&) {
        throw DocumentError(inQuotes(path) + ": there is not enough memory for its " +
                            std::to_string(static_cast<std::uint64_t>(header.nvox) * sizeof(float)) +
                            " bytes of float32 time courses");
    }
    readScaledValues(path, header, timeCourses->floatData(), threads);
    return std::move(*timeCourses);
}

} // namespace

std::string fmrPathOfNifti(const std::string& path) {
    const auto endsWith = [&path](const std::string& end) {
        if (path.size() < end.size()) return false;
        for (std::size_t i = 0; i < end.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(path[path.size() - end.size() + i])) != end[i]) return false;
        }
        return true;
    };
    // The content, not the name, makes a file NIfTI: any other name loses its extension.
    const std::size_t cut = endsWith(".nii.gz") ? 7
                            : endsWith(".nii")  ? 4
                                                : std::filesystem::path(path).extension().string().size();
    return path.substr(0, path.size() - cut) + ".fmr";
}

FmrDocument openNiftiRun(const std::string& path, int threads) {
    const NiftiImagePtr header = readNiftiImage(path, false);
    checkRunHeader(*header, path);
    FmrText text = textOf(*header, path);
    return FmrDocument::fromParts(fmrPathOfNifti(path), std::move(text), timeCoursesOf(*header, path, threads));
}

} // namespace corvantis
