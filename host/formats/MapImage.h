// A map of the current document: the 64-byte header as the host holds it and
// DimZ slices of DimY x DimX float values, x fastest, starting at 0.0.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "plugin/HostKit.h"

namespace corvantis {

struct MapExtents {
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;
};

// What a new map's header holds besides its extents: distinct and non-zero in
// every field, so a saved file shows which fields the plug-in wrote.
constexpr int32_t kNewMapType = 101;
constexpr float kNewMapLowerThreshold = 102.5f;
constexpr float kNewMapUpperThreshold = 103.5f;
constexpr int32_t kNewMapReserved24 = 104;
constexpr int32_t kNewMapField28 = 105;
constexpr int32_t kNewMapDF1 = 106;
constexpr int32_t kNewMapDF2 = 107;
constexpr unsigned char kNewMapReserved40First = 0xA0; // then 0xA1, 0xA2, ...

// The first 8 bytes of a .map file.
constexpr char kMapFileMagic[] = "CVMAP01\n";
constexpr std::size_t kMapFileMagicLength = sizeof kMapFileMagic - 1;

MapHeader newMapHeader(MapExtents extents);

class MapImage {
public:
    explicit MapImage(MapExtents extents);
    // Moving keeps the value buffer, so the slice pointers stay valid.
    MapImage(MapImage&&) = default;
    MapImage& operator=(MapImage&&) = default;
    MapImage(const MapImage&) = delete;
    MapImage& operator=(const MapImage&) = delete;

    const MapHeader& header() const { return header_; }
    // One pointer per slice.
    float** slices() { return slicePointers_.data(); }
    const std::vector<float>& values() const { return values_; }

    // Takes over every field but the extents, which fix the slices' layout.
    void takeParameters(const MapHeader& written);

    // The .map layout: magic, the header little-endian, then the slices.
    void writeTo(std::ostream& out) const;

private:
    MapHeader header_;
    std::vector<float> values_;
    std::vector<float*> slicePointers_;
};

} // namespace corvantis
