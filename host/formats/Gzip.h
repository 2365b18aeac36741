// Whole-buffer gzip compression through libdeflate: one gzip member holding
// the bytes, as gzip and zlib's readers expect.
#pragma once

#include <cstddef>
#include <vector>

namespace corvantis {

// The level runs from 1 (fastest) to 12 (smallest). Throws SaveError when the
// compressor cannot be made (bad level, no memory).
std::vector<unsigned char> gzipCompress(const void* bytes, std::size_t size, int level = 6);

} // namespace corvantis
