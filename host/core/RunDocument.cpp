#include "host/core/RunDocument.h"

#include <cctype>

#include "host/formats/HostErrors.h"
#include "host/formats/NiftiMagic.h"
#include "host/formats/SafeInput.h"
#ifdef QUORVEX_HOST_NIFTI
#include "host/formats/NiftiRun.h"
#endif

namespace corvantis {

namespace {

bool endsWithIgnoringCase(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) return false;
    for (std::size_t i = 0; i < end.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i]) return false;
    }
    return true;
}

std::string firstBytes(const std::string& path) {
    std::string bytes(kNiftiHeaderBytes, '\0');
    bytes.resize(InputFile::open(path).read(&bytes[0], bytes.size()));
    return bytes;
}

} // namespace

bool isNiftiRun(const std::string& path) { return looksLikeNifti(firstBytes(path)); }

FmrDocument openRunDocument(const std::string& path, int threads) {
    // The content picks the reader; the name only explains a refusal.
    const std::string first = firstBytes(path);
    if (looksLikeNifti(first)) {
#ifdef QUORVEX_HOST_NIFTI
        return openNiftiRun(path, threads);
#else
        static_cast<void>(threads);
        throw DocumentError(inQuotes(path) + " is a NIfTI image; this Corvantis is built without NIfTI support");
#endif
    }
    if (endsWithIgnoringCase(path, ".nii") || endsWithIgnoringCase(path, ".nii.gz")) {
        const bool text = first.find("NrOfVolumes") != std::string::npos;
        throw DocumentError(inQuotes(path) + " is not a NIfTI-1 image: it has no NIfTI-1 magic \"n+1\" at byte 344" +
                            (text ? "; it holds the text of an .fmr run: give it a name ending in .fmr" : ""));
    }
    return FmrDocument::open(path);
}

} // namespace corvantis
