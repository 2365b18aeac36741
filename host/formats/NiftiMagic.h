// A NIfTI file recognised by its first bytes, whatever its name or the case of
// its extension: a gzip stream (a .nii.gz) or a NIfTI header. Builds without
// NIfTI support use it too, to say so instead of reading the image as text.
#pragma once

#include <cstddef>
#include <string>

namespace corvantis {

// The bytes looksLikeNifti needs: a NIfTI-1 header up to its magic.
constexpr std::size_t kNiftiHeaderBytes = 348;

// True for the gzip magic 1f 8b at the start, and for a NIfTI-1 header (the
// magic "n+1" or "ni1" at byte 344) or a NIfTI-2 one ("n+2" at byte 4): the
// NIfTI reader says what is wrong with the last two kinds.
bool looksLikeNifti(const std::string& firstBytes);

// True when the bytes start a gzip stream.
bool isGzip(const std::string& firstBytes);

} // namespace corvantis
