#include "host/core/RunDocument.h"

#include "host/formats/HostErrors.h"
#ifdef QUORVEX_HOST_NIFTI
#include "host/formats/NiftiRun.h"
#endif

namespace corvantis {

namespace {

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

FmrDocument openRunDocument(const std::string& path) {
    if (!endsWith(path, ".nii") && !endsWith(path, ".nii.gz")) {
        return FmrDocument::open(path);
    }
#ifdef QUORVEX_HOST_NIFTI
    return openNiftiRun(path);
#else
    throw DocumentError(inQuotes(path) + ": this Corvantis is built without NIfTI support");
#endif
}

} // namespace corvantis
