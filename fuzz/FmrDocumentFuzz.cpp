// Opening a document as the host does: the bytes before the first NUL are the
// .fmr text, the bytes after it the time-course file run.stc beside it. The
// open must end in a document or a DocumentError; an opened document must
// describe itself consistently and save to a copy that opens to the same data.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "FuzzScratch.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/HostErrors.h"

namespace {

using corvantis::FmrDocument;

void checkHeader(const FmrDocument& document) {
    const FMRHeader header = document.header();
    const corvantis::RunLayout& layout = document.layout();
    if (header.NrOfVolumes != layout.nrOfVolumes || header.DimX != layout.dimX || header.DimY != layout.dimY ||
        header.DimZ != layout.dimZ || header.DataType != layout.dataType) {
        fuzzing::broken("the header does not describe the layout");
    }
    if (std::string(header.FileName) != document.path()) fuzzing::broken("the header does not carry the path");
    if (document.timeCourses().volumes() != layout.nrOfVolumes || document.timeCourses().voxels() != layout.voxels()) {
        fuzzing::broken("the time courses do not match the layout");
    }
}

bool sameValues(const FmrDocument& a, const FmrDocument& b) {
    const corvantis::TimeCourses& x = a.timeCourses();
    const corvantis::TimeCourses& y = b.timeCourses();
    for (int32_t v = 0; v < x.volumes(); ++v) {
        for (int32_t l = 0; l < x.voxels(); ++l) {
            if (x.dataType() == corvantis::kDataTypeFloat32) {
                const float p = x.floatValue(v, l), q = y.floatValue(v, l);
                if (std::memcmp(&p, &q, sizeof p) != 0) return false;
            } else if (x.int16Value(v, l) != y.int16Value(v, l)) {
                return false;
            }
        }
    }
    return true;
}

void checkSaveAndReopen(FmrDocument& document) {
    const std::string copy = fuzzing::scratchFolder() + "/copy.fmr";
    try {
        document.saveAs(copy, "copy");
    } catch (const corvantis::SaveError& error) {
        fuzzing::broken(std::string("a loaded document does not save: ") + error.what());
    }
    try {
        const FmrDocument reopened = FmrDocument::open(copy);
        if (reopened.layout().voxels() != document.layout().voxels() || !sameValues(document, reopened)) {
            fuzzing::broken("the saved copy holds other data");
        }
    } catch (const corvantis::DocumentError& error) {
        fuzzing::broken(std::string("the saved copy does not open: ") + error.what());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const std::size_t textSize = nul == nullptr ? size : static_cast<std::size_t>(nul - data);
    const std::size_t stcSize = nul == nullptr ? 0 : size - textSize - 1;
    // Nothing of an earlier input may be found by this one.
    for (const char* stale : {"copy.fmr", "copy.stc"}) {
        std::error_code ignored;
        std::filesystem::remove(fuzzing::scratchFolder() + "/" + stale, ignored);
    }
    const std::string fmr = fuzzing::writeScratchFile("run.fmr", data, textSize);
    fuzzing::writeScratchFile("run.stc", nul == nullptr ? data : nul + 1, stcSize);
    try {
        FmrDocument document = FmrDocument::open(fmr);
        checkHeader(document);
        checkSaveAndReopen(document);
    } catch (const corvantis::DocumentError&) {
    }
    return 0;
}
