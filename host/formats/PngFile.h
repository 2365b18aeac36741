// 8-bit RGB pictures written and read as PNG through libpng's simplified API.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvantis {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // rows top to bottom, 3 bytes a pixel

    RgbImage() = default;
    RgbImage(int w, int h, uint8_t grey) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 3, grey) {}
    uint8_t* at(int x, int y) { return &pixels[(static_cast<std::size_t>(y) * width + x) * 3]; }
    const uint8_t* at(int x, int y) const { return &pixels[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

// The PNG file's bytes. Throws SaveError.
std::vector<unsigned char> encodePng(const RgbImage& image);

// Writes the picture over path only once it is whole on disk; a failed write
// leaves an earlier picture as it was. Throws SaveError.
void writePng(const std::string& path, const RgbImage& image);

// Throws DocumentError.
RgbImage readPng(const std::string& path);

} // namespace corvantis
