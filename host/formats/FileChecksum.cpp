#include "host/formats/FileChecksum.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include <isa-l/crc.h>

namespace corvantis {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

} // namespace

uint32_t crc32Of(const void* bytes, std::size_t size) {
    uint32_t crc = 0;
    const auto* next = static_cast<const unsigned char*>(bytes);
    // ISA-L takes a 64-bit length, but chunks keep any platform's limits out of it.
    while (size > 0) {
        const std::size_t part = size < kChunk ? size : kChunk;
        crc = crc32_gzip_refl(crc, next, part);
        next += part;
        size -= part;
    }
    return crc;
}

std::optional<FileChecksum> fileChecksum(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<char> buffer(kChunk);
    FileChecksum sum;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        sum.crc32 = crc32_gzip_refl(sum.crc32, reinterpret_cast<const unsigned char*>(buffer.data()),
                                    static_cast<uint64_t>(got));
        sum.size += got;
    }
    if (in.bad() || !in.eof()) return std::nullopt;
    return sum;
}

std::string crc32Text(uint32_t crc) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(crc));
    return text;
}

} // namespace corvantis
