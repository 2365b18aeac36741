// NIfTI-1 images through niftilib, owned: every image read or made here is
// freed with nifti_image_free when its pointer goes.
#pragma once

#include <memory>
#include <string>

#include <nifti1_io.h>

namespace corvantis {

struct NiftiImageFree {
    void operator()(nifti_image* image) const { nifti_image_free(image); }
};
using NiftiImagePtr = std::unique_ptr<nifti_image, NiftiImageFree>;

// True for names niftilib reads as one NIfTI-1 file: ".nii" or ".nii.gz".
bool isNiftiPath(const std::string& path);

// The header, and every value when withData (NiftiReader.cpp). Compressed or
// not is told by the content, not the name. Throws DocumentError naming the file
// when it is not a regular file, is no single-file NIfTI-1 image (a NIfTI-2 file
// included), has an extent below 1, places its values outside the file or
// before byte 352, or ends before its last value.
NiftiImagePtr readNiftiImage(const std::string& path, bool withData);

// The values of the image at path (header: as readNiftiImage gives it without
// values) scaled as scaledValue does and rounded to float32, into values (one
// per value of the image, in the file's order), inflating a compressed file
// with up to threads threads. Throws DocumentError as readNiftiImage does.
void readScaledValues(const std::string& path, const nifti_image& header, float* values, int threads);

// Before memory is set aside for the values: a compressed file whose header
// claims far more than its bytes would hold once inflated is inflated once,
// and refused as readScaledValues would refuse it when the values are not
// there. Throws DocumentError.
void checkClaimedValues(const std::string& path, int threads);

// A new image of the given extents (nt = 1 for a 3D image) and data type
// (DT_FLOAT32 or DT_INT16), values 0, or no values (a header to write values
// held elsewhere) when withValues is false. Throws SaveError.
NiftiImagePtr newImage(int nx, int ny, int nz, int nt, int datatype, bool withValues = true);

// The integer and floating-point types scaledValue reads.
bool isRealDataType(int datatype);

// The stored value at index i scaled by scl_slope and scl_inter (no scaling when
// the slope is 0), computed in double precision. Throws DocumentError for data
// types that hold no real number (complex, RGB).
double scaledValue(const nifti_image& image, std::size_t i);

} // namespace corvantis
