#include "host/formats/NiftiMagic.h"

namespace corvantis {

namespace {

bool holdsAt(const std::string& bytes, std::size_t offset, const char (&magic)[4]) {
    return bytes.size() >= offset + 4 && bytes.compare(offset, 4, magic, 4) == 0;
}

} // namespace

bool isGzip(const std::string& firstBytes) { return firstBytes.compare(0, 2, "\x1f\x8b") == 0; }

bool looksLikeNifti(const std::string& firstBytes) {
    return isGzip(firstBytes) || holdsAt(firstBytes, 344, "n+1") || holdsAt(firstBytes, 344, "ni1") ||
           holdsAt(firstBytes, 4, "n+2");
}

} // namespace corvantis
