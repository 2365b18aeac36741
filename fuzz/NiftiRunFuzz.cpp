// Opening arbitrary bytes as a NIfTI run, compressed or not as the bytes say:
// a DocumentError, or a document whose every extent is at least 1 and whose
// time courses hold one float per voxel and volume, all read from the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzScratch.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/HostErrors.h"
#include "host/formats/NiftiRun.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::writeScratchFile("run.nii", data, size);
    try {
        const corvantis::FmrDocument run = corvantis::openNiftiRun(path);
        const corvantis::RunLayout& layout = run.layout();
        if (layout.dimX < 1 || layout.dimY < 1 || layout.dimZ < 1 || layout.nrOfVolumes < 1) {
            fuzzing::broken("a run with an extent below 1 was opened");
        }
        const corvantis::TimeCourses& tc = run.timeCourses();
        if (tc.volumes() != layout.nrOfVolumes || tc.voxels() != layout.voxels() ||
            tc.dataType() != corvantis::kDataTypeFloat32) {
            fuzzing::broken("the time courses do not match the layout");
        }
        // Every value must have come from the file: at least four bytes a value
        // would be compressed beyond zlib's limit of about 1032 to 1 otherwise.
        const uint64_t values = static_cast<uint64_t>(tc.volumes()) * static_cast<uint64_t>(tc.voxels());
        if (values > (static_cast<uint64_t>(size) + 1) * 1032) fuzzing::broken("more values than the file can hold");
    } catch (const corvantis::DocumentError&) {
    }
    return 0;
}
