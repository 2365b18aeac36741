// CRC-32 of files and texts (the checksum of gzip and zlib), through ISA-L's
// folding implementation: a study's record keeps one per output, so that a
// file cut short or changed since it was written is told apart from the one
// written, at a cost far below reading it from disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace corvantis {

struct FileChecksum {
    int64_t size = 0;
    uint32_t crc32 = 0;
};

// The file's size and CRC-32; nullopt when it cannot be opened or read whole.
std::optional<FileChecksum> fileChecksum(const std::filesystem::path& path);

// The CRC-32 of the bytes.
uint32_t crc32Of(const void* bytes, std::size_t size);

// Eight lowercase hexadecimal digits.
std::string crc32Text(uint32_t crc);

} // namespace corvantis
