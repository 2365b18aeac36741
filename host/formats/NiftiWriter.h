// NIfTI-1 single files (.nii, .nii.gz) written byte by byte: niftilib's header,
// no extensions, the values at offset 352, streamed from where they are held
// (a .nii.gz in gzip members, see Gzip.h). Every byte goes through the checked
// atomic write, so a full disk is reported and never leaves a cut file.
#pragma once

#include <string>

#include <nifti1_io.h>

#include "host/formats/AtomicFile.h"

namespace corvantis {

// Writes header (its extents, type and fields; its data pointer is not used)
// with values (nvox values of its type in this machine's byte order) under
// path, ".nii" or ".nii.gz" picking the compression, over any earlier file only
// when the whole file is written; a .nii.gz is compressed by up to threads
// threads, and its bytes are the same for every thread count. Throws SaveError,
// also for an image without values, with extensions or in the other byte order
// (none made here has them).
void writeNiftiImage(const nifti_image& header, const void* values, const std::string& path, int threads = 1,
                     Durability durability = Durability::Complete);

// The same for an image holding its values.
void writeNiftiImage(const nifti_image& image, const std::string& path, int threads = 1,
                     Durability durability = Durability::Complete);

} // namespace corvantis
