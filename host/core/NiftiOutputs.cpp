#include "host/core/NiftiOutputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"
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

} // namespace

std::string niftiCopyPath(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + ".nii.gz";
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
    std::snprintf(image->descrip, sizeof image->descrip, "Corvantis map, type %d", h.MapType);
    return image;
}

void writeMapAsNifti(const MapImage& map, const FmrDocument& run, const std::string& mapPath) {
    writeNiftiImage(*mapAsNiftiImage(map, run), niftiCopyPath(mapPath));
}

void writeRunAsNifti(const FmrDocument& run) {
    const RunLayout& layout = run.layout();
    const bool floats = layout.dataType == kDataTypeFloat32;
    NiftiImagePtr image =
        newImage(layout.dimX, layout.dimY, layout.dimZ, layout.nrOfVolumes, floats ? DT_FLOAT32 : DT_INT16);
    applyGeometry(*image, run);
    applyTiming(*image, run);
    const TimeCourses& tc = run.timeCourses();
    std::size_t i = 0;
    for (int32_t t = 0; t < tc.volumes(); ++t) {
        for (int32_t l = 0; l < tc.voxels(); ++l, ++i) {
            if (floats) {
                static_cast<float*>(image->data)[i] = tc.floatValue(t, l);
            } else {
                static_cast<int16_t*>(image->data)[i] = tc.int16Value(t, l);
            }
        }
    }
    writeNiftiImage(*image, niftiCopyPath(run.path()));
}

SaveHooks niftiCopyHooks() {
    SaveHooks hooks;
    hooks.run = &writeRunAsNifti;
    hooks.map = &writeMapAsNifti;
    return hooks;
}

} // namespace corvantis
