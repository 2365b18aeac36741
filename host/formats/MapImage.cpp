#include "host/formats/MapImage.h"

#include <cstring>
#include <ostream>

namespace corvantis {

namespace {

void putUint32(std::ostream& out, uint32_t value) {
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
    out.write(bytes, 4);
}

template <class T>
void putWord(std::ostream& out, T value) {
    static_assert(sizeof(T) == 4, "map header words are 4 bytes");
    uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    putUint32(out, bits);
}

std::size_t sliceSize(MapExtents extents) {
    return static_cast<std::size_t>(extents.x) * static_cast<std::size_t>(extents.y);
}

} // namespace

MapHeader newMapHeader(MapExtents extents) {
    MapHeader header;
    std::memset(&header, 0, sizeof header);
    header.DimX = extents.x;
    header.DimY = extents.y;
    header.DimZ = extents.z;
    header.MapType = kNewMapType;
    header.LowerThreshold = kNewMapLowerThreshold;
    header.UpperThreshold = kNewMapUpperThreshold;
    header.reserved24 = kNewMapReserved24;
    header.field28 = kNewMapField28;
    header.DF1 = kNewMapDF1;
    header.DF2 = kNewMapDF2;
    for (std::size_t i = 0; i < sizeof header.reserved40; ++i) {
        header.reserved40[i] = static_cast<unsigned char>(kNewMapReserved40First + i);
    }
    return header;
}

MapImage::MapImage(MapExtents extents)
    : header_(newMapHeader(extents)), values_(sliceSize(extents) * static_cast<std::size_t>(extents.z), 0.0f) {
    for (int32_t z = 0; z < extents.z; ++z) {
        slicePointers_.push_back(values_.data() + static_cast<std::size_t>(z) * sliceSize(extents));
    }
}

void MapImage::takeParameters(const MapHeader& written) {
    const MapHeader kept = header_;
    header_ = written;
    header_.DimX = kept.DimX;
    header_.DimY = kept.DimY;
    header_.DimZ = kept.DimZ;
}

void MapImage::writeTo(std::ostream& out) const {
    out.write(kMapFileMagic, static_cast<std::streamsize>(kMapFileMagicLength));
    putWord(out, header_.DimX);
    putWord(out, header_.DimY);
    putWord(out, header_.DimZ);
    putWord(out, header_.MapType);
    putWord(out, header_.LowerThreshold);
    putWord(out, header_.UpperThreshold);
    putWord(out, header_.reserved24);
    putWord(out, header_.field28);
    putWord(out, header_.DF1);
    putWord(out, header_.DF2);
    out.write(reinterpret_cast<const char*>(header_.reserved40), sizeof header_.reserved40);
    for (float value : values_) {
        putWord(out, value);
    }
}

} // namespace corvantis
