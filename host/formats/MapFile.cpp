#include "host/formats/MapFile.h"

#include <cstring>

#include "host/formats/HostErrors.h"
#include "host/formats/MapImage.h"
#include "host/formats/SafeInput.h"

namespace corvantis {

namespace {

constexpr std::size_t kHeaderEnd = kMapFileMagicLength + sizeof(MapHeader);

std::string extentsOf(const MapHeader& h) {
    return std::to_string(h.DimX) + " x " + std::to_string(h.DimY) + " x " + std::to_string(h.DimZ);
}

// The voxels the header declares; refused before anything is allocated for them.
std::uint64_t voxelsOf(const MapHeader& h, const std::string& path) {
    if (h.DimX < 1 || h.DimY < 1 || h.DimZ < 1) {
        throw DocumentError(inQuotes(path) + ": the map's extents are " + extentsOf(h) + "; each must be at least 1");
    }
    std::uint64_t slice = 0, voxels = 0;
    if (!productWithin(static_cast<std::uint64_t>(h.DimX), static_cast<std::uint64_t>(h.DimY), kMaxMapVoxels, slice) ||
        !productWithin(slice, static_cast<std::uint64_t>(h.DimZ), kMaxMapVoxels, voxels)) {
        throw DocumentError(inQuotes(path) + ": the map's extents " + extentsOf(h) + " make more than the " +
                            std::to_string(kMaxMapVoxels) + " voxels a map holds");
    }
    return voxels;
}

} // namespace

MapContents readMapFile(const std::string& path) {
    InputFile file = InputFile::open(path, "the map");
    char head[kHeaderEnd];
    if (file.read(head, kHeaderEnd) != kHeaderEnd || std::memcmp(head, kMapFileMagic, kMapFileMagicLength) != 0) {
        throw DocumentError(inQuotes(path) + " is not a map file");
    }
    MapContents map;
    std::memcpy(&map.header, head + kMapFileMagicLength, sizeof map.header);
    const std::uint64_t voxels = voxelsOf(map.header, path);
    const std::uint64_t expected = kHeaderEnd + voxels * sizeof(float);
    checkSize(path, "the map", file.size(), expected, expected,
              "its header and " + extentsOf(map.header) + " float values take " + std::to_string(expected));
    map.values.resize(static_cast<std::size_t>(voxels));
    file.readExactly(reinterpret_cast<char*>(map.values.data()), map.values.size() * sizeof(float));
    return map;
}

} // namespace corvantis
