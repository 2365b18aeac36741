#include "host/formats/NiftiImage.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

template <class T>
double stored(const nifti_image& image, std::size_t i) {
    T value;
    std::memcpy(&value, static_cast<const char*>(image.data) + i * sizeof(T), sizeof(T));
    return static_cast<double>(value);
}

double storedValue(const nifti_image& image, std::size_t i) {
    switch (image.datatype) {
    case DT_INT8: return stored<int8_t>(image, i);
    case DT_UINT8: return stored<uint8_t>(image, i);
    case DT_INT16: return stored<int16_t>(image, i);
    case DT_UINT16: return stored<uint16_t>(image, i);
    case DT_INT32: return stored<int32_t>(image, i);
    case DT_UINT32: return stored<uint32_t>(image, i);
    case DT_INT64: return stored<int64_t>(image, i);
    case DT_UINT64: return stored<uint64_t>(image, i);
    case DT_FLOAT32: return stored<float>(image, i);
    case DT_FLOAT64: return stored<double>(image, i);
    default:
        throw DocumentError(std::string("the data type ") + nifti_datatype_string(image.datatype) +
                            " holds no real numbers");
    }
}

} // namespace

bool isRealDataType(int datatype) {
    switch (datatype) {
    case DT_INT8:
    case DT_UINT8:
    case DT_INT16:
    case DT_UINT16:
    case DT_INT32:
    case DT_UINT32:
    case DT_INT64:
    case DT_UINT64:
    case DT_FLOAT32:
    case DT_FLOAT64: return true;
    default: return false;
    }
}

bool isNiftiPath(const std::string& path) { return endsWith(path, ".nii") || endsWith(path, ".nii.gz"); }

NiftiImagePtr newImage(int nx, int ny, int nz, int nt, int datatype, bool withValues) {
    const int dims[8] = {nt > 1 ? 4 : 3, nx, ny, nz, nt, 1, 1, 1};
    NiftiImagePtr image(nifti_make_new_nim(dims, datatype, withValues ? 1 : 0));
    if (!image) {
        throw SaveError("cannot make a NIfTI image of " + std::to_string(nx) + " x " + std::to_string(ny) + " x " +
                        std::to_string(nz) + " x " + std::to_string(nt) + " values");
    }
    return image;
}

double scaledValue(const nifti_image& image, std::size_t i) {
    const double value = storedValue(image, i);
    if (image.scl_slope == 0.0f || !std::isfinite(image.scl_slope)) {
        return value;
    }
    const double inter = std::isfinite(image.scl_inter) ? static_cast<double>(image.scl_inter) : 0.0;
    return value * static_cast<double>(image.scl_slope) + inter;
}

} // namespace corvantis
