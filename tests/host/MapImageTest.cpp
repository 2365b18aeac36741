#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "HostTestSupport.h"
#include "host/formats/MapImage.h"

namespace {

using corvantis::MapExtents;
using corvantis::MapImage;

int32_t wordAt(const std::string& bytes, std::size_t offset) {
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) {
        bits = (bits << 8) | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
    }
    int32_t word = 0;
    std::memcpy(&word, &bits, 4);
    return word;
}

float floatAt(const std::string& bytes, std::size_t offset) {
    const int32_t word = wordAt(bytes, offset);
    float value = 0.0f;
    std::memcpy(&value, &word, 4);
    return value;
}

TEST(MapImage, NewHeaderHoldsTheExtentsAndDistinctNonZeroDefaultsElsewhere) {
    const MapHeader header = corvantis::newMapHeader(MapExtents{4, 3, 2});
    EXPECT_EQ(header.DimX, 4);
    EXPECT_EQ(header.DimY, 3);
    EXPECT_EQ(header.DimZ, 2);
    // Every 4-byte word after the extents and every byte of the reserved tail.
    std::set<uint32_t> words;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&header);
    for (std::size_t offset = 12; offset < 40; offset += 4) {
        uint32_t word = 0;
        std::memcpy(&word, bytes + offset, 4);
        EXPECT_NE(word, 0u) << "word at " << offset;
        EXPECT_TRUE(words.insert(word).second) << "word at " << offset << " repeats another";
    }
    std::set<unsigned char> tail;
    for (std::size_t offset = 40; offset < 64; ++offset) {
        EXPECT_NE(bytes[offset], 0) << "byte " << offset;
        EXPECT_TRUE(tail.insert(bytes[offset]).second) << "byte " << offset;
    }
}

TEST(MapImage, ValuesStartAtZeroInSlicesOfRowsXFastest) {
    MapImage map(MapExtents{3, 2, 2});
    ASSERT_EQ(map.values().size(), 12u);
    for (float value : map.values()) {
        EXPECT_EQ(value, 0.0f);
    }
    map.slices()[1][1 * 3 + 2] = 9.0f; // (x 2, y 1, z 1)
    EXPECT_EQ(map.values()[6 + 5], 9.0f);
}

TEST(MapImage, TakesOverEveryWrittenFieldButTheExtents) {
    MapImage map(MapExtents{2, 2, 1});
    MapHeader written = map.header();
    written.DimX = 50;
    written.DimZ = 7;
    written.MapType = 4;
    written.UpperThreshold = 0.5f;
    written.field28 = 0;
    written.reserved40[3] = 1;
    map.takeParameters(written);
    EXPECT_EQ(map.header().DimX, 2);
    EXPECT_EQ(map.header().DimZ, 1);
    EXPECT_EQ(map.header().MapType, 4);
    EXPECT_EQ(map.header().UpperThreshold, 0.5f);
    EXPECT_EQ(map.header().field28, 0);
    EXPECT_EQ(map.header().reserved40[3], 1);
    EXPECT_EQ(map.header().DF1, corvantis::kNewMapDF1);
}

TEST(MapImage, FileIsMagicThenLittleEndianHeaderThenSlices) {
    MapImage map(MapExtents{2, 1, 2});
    map.slices()[0][1] = 1.5f;
    map.slices()[1][0] = -2.0f;
    MapHeader written = map.header();
    written.MapType = 4;
    written.LowerThreshold = 2.0f;
    written.DF2 = -1;
    map.takeParameters(written);
    std::ostringstream out;
    map.writeTo(out);
    const std::string bytes = out.str();

    ASSERT_EQ(bytes.size(), 8u + 64u + 4u * 4u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("CVMAP01\n"));
    EXPECT_EQ(wordAt(bytes, 8 + 0), 2);
    EXPECT_EQ(wordAt(bytes, 8 + 4), 1);
    EXPECT_EQ(wordAt(bytes, 8 + 8), 2);
    EXPECT_EQ(wordAt(bytes, 8 + 12), 4);
    EXPECT_EQ(floatAt(bytes, 8 + 16), 2.0f);
    EXPECT_EQ(floatAt(bytes, 8 + 20), corvantis::kNewMapUpperThreshold);
    EXPECT_EQ(wordAt(bytes, 8 + 24), corvantis::kNewMapReserved24);
    EXPECT_EQ(wordAt(bytes, 8 + 28), corvantis::kNewMapField28);
    EXPECT_EQ(wordAt(bytes, 8 + 32), corvantis::kNewMapDF1);
    EXPECT_EQ(wordAt(bytes, 8 + 36), -1);
    EXPECT_EQ(static_cast<unsigned char>(bytes[8 + 40]), corvantis::kNewMapReserved40First);
    EXPECT_EQ(static_cast<unsigned char>(bytes[8 + 63]), corvantis::kNewMapReserved40First + 23);
    EXPECT_EQ(bytes.substr(72), hosttest::floatBytes({0.0f, 1.5f, -2.0f, 0.0f}));
}

} // namespace
