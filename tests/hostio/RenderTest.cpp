// Pictures of maps: a known small map drawn through the render command, the PNG
// decoded again and every voxel's pixels checked for colour.
#include <gtest/gtest.h>

#include <cstring>

#include "HostTestSupport.h"
#include "host/formats/PngFile.h"
#include "host/research/MapPicture.h"
#include "host/research/MapSummary.h"

namespace {

using hosttest::TempDir;

// A .map file as the host saves it: magic, the 64-byte header, the values.
void writeMap(const std::string& path, int dx, int dy, int dz, float lower, float upper,
              const std::vector<float>& values) {
    MapHeader header;
    std::memset(&header, 0, sizeof header);
    header.DimX = dx;
    header.DimY = dy;
    header.DimZ = dz;
    header.LowerThreshold = lower;
    header.UpperThreshold = upper;
    std::string bytes = "CVMAP01\n";
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    bytes += hosttest::floatBytes(values);
    hosttest::writeFile(path, bytes);
}

bool isGrey(const uint8_t* p) { return p[0] == p[1] && p[1] == p[2]; }

TEST(Render, ColoursExactlyTheVoxelsBeyondTheLowerThreshold) {
    TempDir dir;
    const int dx = 5, dy = 4, dz = 3, volumes = 2;
    // Values from -7 to 7 and back; lower threshold 3, upper 6: |v| >= 3 is coloured.
    std::vector<float> values;
    for (int l = 0; l < dx * dy * dz; ++l) values.push_back(static_cast<float>((l * 7) % 15 - 7));
    values[5] = 3.0f;   // at the threshold: coloured
    values[6] = -2.99f; // just inside: grey
    writeMap(dir.file("m.map"), dx, dy, dz, 3.0f, 6.0f, values);
    const std::string fmr = hosttest::writeCountingRun(dir.path(), "run", dx, dy, dz, volumes);
    const hosttest::Outcome outcome =
        hosttest::runProgram(hosttest::corvantisProgram(),
                             {"render", "--fmr", fmr, "--zoom", "3", dir.file("m.map"), "-o", dir.file("m.png")});
    ASSERT_EQ(outcome.status, 0) << outcome.err;

    const corvantis::MapContents map = corvantis::readMapFile(dir.file("m.map"));
    const corvantis::RgbImage picture = corvantis::readPng(dir.file("m.png"));
    const corvantis::MosaicLayout layout = corvantis::panelLayout({{"m.map", map}}, 3);
    ASSERT_EQ(picture.width, layout.width);
    ASSERT_EQ(picture.height, layout.panelHeight);
    std::size_t l = 0, coloured = 0;
    for (int z = 0; z < dz; ++z) {
        for (int y = 0; y < dy; ++y) {
            for (int x = 0; x < dx; ++x, ++l) {
                const auto [px, py] = layout.pixelOf(x, y, z);
                uint8_t expected[3];
                const bool colour = corvantis::mapColour(values[l], 3.0f, 6.0f, expected);
                EXPECT_EQ(colour, std::abs(values[l]) >= 3.0f) << l;
                for (int j = 0; j < 3 * 3; ++j) {
                    const uint8_t* p = picture.at(px + j % 3, py + j / 3);
                    if (colour) {
                        ASSERT_EQ(std::memcmp(p, expected, 3), 0) << "voxel " << l;
                    } else {
                        ASSERT_TRUE(isGrey(p)) << "voxel " << l;
                    }
                }
                coloured += colour;
            }
        }
    }
    EXPECT_GT(coloured, 10u);
    // The counting run is brightest in its last voxel, which the map leaves grey: white there.
    ASSERT_FALSE(corvantis::mapColour(values.back(), 3.0f, 6.0f, nullptr));
    const auto [px, py] = layout.pixelOf(dx - 1, dy - 1, dz - 1);
    EXPECT_EQ(picture.at(px, py)[0], 255);
    EXPECT_TRUE(isGrey(picture.at(px, py)));
}

TEST(Render, ColoursRunFromTheLowerToTheUpperThreshold) {
    uint8_t rgb[3];
    ASSERT_TRUE(corvantis::mapColour(3.0f, 3.0f, 6.0f, rgb));
    EXPECT_EQ((std::vector<int>{rgb[0], rgb[1], rgb[2]}), (std::vector<int>{255, 0, 0}));
    ASSERT_TRUE(corvantis::mapColour(9.0f, 3.0f, 6.0f, rgb));
    EXPECT_EQ((std::vector<int>{rgb[0], rgb[1], rgb[2]}), (std::vector<int>{255, 255, 0}));
    ASSERT_TRUE(corvantis::mapColour(-4.5f, 3.0f, 6.0f, rgb));
    EXPECT_EQ((std::vector<int>{rgb[0], rgb[1], rgb[2]}), (std::vector<int>{0, 128, 255}));
    EXPECT_FALSE(corvantis::mapColour(0.0f, -1.0f, 6.0f, rgb)); // outside the mask
    EXPECT_FALSE(corvantis::mapColour(2.5f, 3.0f, 6.0f, rgb));
}

TEST(Render, RefusesMapsOfDifferentExtents) {
    TempDir dir;
    writeMap(dir.file("a.map"), 2, 2, 1, 1.0f, 2.0f, {0, 1, 2, 3});
    writeMap(dir.file("b.map"), 1, 2, 2, 1.0f, 2.0f, {0, 1, 2, 3});
    const hosttest::Outcome outcome = hosttest::runProgram(
        hosttest::corvantisProgram(), {"render", dir.file("a.map"), dir.file("b.map"), "-o", dir.file("x.png")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Corvantis: error: \"b.map\" has other extents than \"a.map\"\n");
}

} // namespace
