// NIfTI-1 single files (.nii, .nii.gz) written byte by byte: niftilib's header,
// no extensions, the values at offset 352. Every byte goes through the checked
// atomic write, so a full disk is reported and never leaves a cut file.
#pragma once

#include <string>
#include <vector>

#include <nifti1_io.h>

namespace corvantis {

// The bytes of image as one .nii file. Throws SaveError for an image without
// values, with extensions or in the other byte order (none made here has them).
std::vector<unsigned char> niftiFileBytes(const nifti_image& image);

// Writes image under path (".nii" or ".nii.gz" picks the compression), over any
// earlier file only when the whole file is written. Throws SaveError.
void writeNiftiImage(const nifti_image& image, const std::string& path);

} // namespace corvantis
