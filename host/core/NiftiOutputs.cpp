#include "host/core/NiftiOutputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/formats/FileIdentity.h"
#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"
#include "host/formats/NiftiMap.h"
#include "host/formats/NiftiRun.h"
#include "host/formats/NiftiWriter.h"

namespace corvantis {

namespace {

float numberOr(const FmrText& text, const std::string& key, float fallback) {
    const std::string* value = text.find(key);
    return value == nullptr ? fallback : std::strtof(value->c_str(), nullptr);
}

// The source NIfTI's header when the run came from one that is still readable.
NiftiImagePtr sourceHeader(const FmrDocument& run) {
    const std::string* source = run.text().find(kNiftiSourceKey);
    if (source == nullptr) return nullptr;
    try {
        return readNiftiImage(*source, false);
    } catch (const DocumentError&) {
        return nullptr;
    }
}

void copySpace(nifti_image& image, const nifti_image& source) {
    image.qform_code = source.qform_code;
    image.sform_code = source.sform_code;
    image.quatern_b = source.quatern_b;
    image.quatern_c = source.quatern_c;
    image.quatern_d = source.quatern_d;
    image.qoffset_x = source.qoffset_x;
    image.qoffset_y = source.qoffset_y;
    image.qoffset_z = source.qoffset_z;
    image.qfac = source.qfac;
    image.qto_xyz = source.qto_xyz;
    image.qto_ijk = source.qto_ijk;
    image.sto_xyz = source.sto_xyz;
    image.sto_ijk = source.sto_ijk;
    image.xyz_units = source.xyz_units;
    image.dx = image.pixdim[1] = source.dx;
    image.dy = image.pixdim[2] = source.dy;
    image.dz = image.pixdim[3] = source.dz;
}

// Without a source NIfTI only the voxel sizes (millimetres) are known.
void applyGeometry(nifti_image& image, const FmrDocument& run) {
    if (const NiftiImagePtr source = sourceHeader(run)) {
        copySpace(image, *source);
        return;
    }
    image.dx = image.pixdim[1] = numberOr(run.text(), "VoxelSizeX", 1.0f);
    image.dy = image.pixdim[2] = numberOr(run.text(), "VoxelSizeY", 1.0f);
    image.dz = image.pixdim[3] = numberOr(run.text(), "VoxelSizeZ", 1.0f);
    image.xyz_units = NIFTI_UNITS_MM;
}

void applyTiming(nifti_image& image, const FmrDocument& run) {
    image.dt = image.pixdim[4] = numberOr(run.text(), "TR", 0.0f) / 1000.0f;
    image.time_units = NIFTI_UNITS_SEC;
}

// An output named like the run it came from (a map named as the run, say) must
// not replace it: the user's data would be gone once the run ends.
void refuseOverSource(const FmrDocument& run, const std::string& target) {
    const std::string* source = run.text().find(kNiftiSourceKey);
    if (source != nullptr && isSameFile(target, *source)) {
        throw SaveError("cannot write " + inQuotes(target) + ": it is the NIfTI run being analysed");
    }
}

void write(const nifti_image& header, const void* values, const FmrDocument& run, const std::string& target,
           const NiftiOutputOptions& options) {
    refuseOverSource(run, target);
    writeNiftiImage(header, values, target, options.threads, options.durability);
}

} // namespace

std::string niftiOutputPath(const std::string& path, bool compressed) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + (compressed ? ".nii.gz" : ".nii");
}

NiftiImagePtr mapAsNiftiImage(const MapImage& map, const FmrDocument& run) {
    const MapHeader& h = map.header();
    NiftiImagePtr image = newImage(h.DimX, h.DimY, h.DimZ, 1, DT_FLOAT32);
    applyGeometry(*image, run);
    std::memcpy(image->data, map.values().data(), map.values().size() * sizeof(float));
    image->cal_min = h.LowerThreshold;
    image->cal_max = h.UpperThreshold;
    if (h.MapType == kMapTypeF) {
        image->intent_code = NIFTI_INTENT_FTEST;
        image->intent_p1 = static_cast<float>(h.DF1);
        image->intent_p2 = static_cast<float>(h.DF2);
    }
    std::snprintf(image->descrip, sizeof image->descrip, "%s%d", kNiftiMapDescription, h.MapType);
    return image;
}

void writeMapAsNifti(const MapImage& map, const FmrDocument& run, const std::string& mapPath,
                     const NiftiOutputOptions& options) {
    const NiftiImagePtr image = mapAsNiftiImage(map, run);
    write(*image, image->data, run, niftiOutputPath(mapPath, options.compressed), options);
}

void writeNiftiMapImage(const nifti_image& image, const FmrDocument& run, const std::string& niftiPath,
                        const NiftiOutputOptions& options) {
    write(image, image.data, run, niftiPath, options);
}

void writeRunAsNifti(const FmrDocument& run, const std::string& fmrPath, const NiftiOutputOptions& options) {
    const RunLayout& layout = run.layout();
    const bool floats = layout.dataType == kDataTypeFloat32;
    // Only a header: the values are written from the time courses as they are,
    // in the same order (x fastest, then y, z and time).
    const NiftiImagePtr header =
        newImage(layout.dimX, layout.dimY, layout.dimZ, layout.nrOfVolumes, floats ? DT_FLOAT32 : DT_INT16, false);
    applyGeometry(*header, run);
    applyTiming(*header, run);
    const TimeCourses& tc = run.timeCourses();
    const void* values = floats ? static_cast<const void*>(tc.floatData()) : tc.int16Data();
    write(*header, values, run, niftiOutputPath(fmrPath, options.compressed), options);
}

SaveHooks niftiSaveHooks(const NiftiOutputOptions& options, bool hostFormats) {
    SaveHooks hooks;
    hooks.run = [options](const FmrDocument& run, const std::string& fmrPath) {
        writeRunAsNifti(run, fmrPath, options);
    };
    hooks.map = [options](const MapImage& map, const FmrDocument& run, const std::string& path) {
        writeMapAsNifti(map, run, path, options);
    };
    hooks.hostFormats = hostFormats;
    hooks.durability = options.durability;
    return hooks;
}

} // namespace corvantis
