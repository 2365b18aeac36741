#include "host/formats/Gzip.h"

#include <memory>
#include <string>

#include <libdeflate.h>

#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

} // namespace

std::vector<unsigned char> gzipCompress(const void* bytes, std::size_t size, int level) {
    const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(libdeflate_alloc_compressor(level));
    if (!compressor) {
        throw SaveError("cannot make a gzip compressor of level " + std::to_string(level));
    }
    std::vector<unsigned char> compressed(libdeflate_gzip_compress_bound(compressor.get(), size));
    // The bound always suffices, so 0 here means the library broke its promise.
    const std::size_t used =
        libdeflate_gzip_compress(compressor.get(), bytes, size, compressed.data(), compressed.size());
    if (used == 0) {
        throw SaveError("gzip compression of " + std::to_string(size) + " bytes failed");
    }
    compressed.resize(used);
    return compressed;
}

} // namespace corvantis
