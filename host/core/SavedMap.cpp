#include "host/core/SavedMap.h"

#include "host/formats/HostErrors.h"
#include "host/formats/NiftiMagic.h"
#include "host/formats/SafeInput.h"
#ifdef QUORVEX_HOST_NIFTI
#include "host/formats/NiftiMap.h"
#endif

namespace corvantis {

MapContents readSavedMap(const std::string& path) {
    std::string first(kNiftiHeaderBytes, '\0');
    first.resize(InputFile::open(path, "the map").read(&first[0], first.size()));
    if (!looksLikeNifti(first)) return readMapFile(path);
#ifdef QUORVEX_HOST_NIFTI
    return readNiftiMap(path);
#else
    throw DocumentError(inQuotes(path) + " is a NIfTI image; this Corvantis is built without NIfTI support");
#endif
}

} // namespace corvantis
