#include "host/research/MapPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <stb/stb_easy_font.h>

#include "host/formats/HostErrors.h"
#include "plugin/HostKit.h"

namespace corvantis {

namespace {

constexpr int kMargin = 4;
constexpr int kTitleHeight = 16;
constexpr int kGap = 2;
constexpr int kBarGap = 8;
constexpr int kBarWidth = 14;
constexpr int kLabelWidth = 64;

int textWidth(const std::string& text) { return stb_easy_font_width(const_cast<char*>(text.c_str())); }

// The font comes as axis-aligned quads; each is filled whole.
void drawText(RgbImage& image, int x, int y, const std::string& text) {
    std::vector<float> vertices(16 * 16 * (text.size() + 1)); // room for 16 quads a character; the font stops when full
    unsigned char white[4] = {255, 255, 255, 255};
    const int quads = stb_easy_font_print(static_cast<float>(x), static_cast<float>(y), const_cast<char*>(text.c_str()),
                                          white, vertices.data(), static_cast<int>(vertices.size() * sizeof(float)));
    const float* all = vertices.data();
    for (int q = 0; q < quads; ++q) {
        const float* v = all + q * 16; // 4 vertices of x, y, z and a packed colour
        const int x0 = static_cast<int>(v[0]), y0 = static_cast<int>(v[1]);
        const int x1 = static_cast<int>(v[8]), y1 = static_cast<int>(v[9]);
        for (int py = std::max(y0, 0); py < std::min(y1, image.height); ++py) {
            for (int px = std::max(x0, 0); px < std::min(x1, image.width); ++px) {
                std::fill(image.at(px, py), image.at(px, py) + 3, 255);
            }
        }
    }
}

std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

std::string titleOf(const MapPanel& panel) {
    const MapHeader& h = panel.map.header;
    std::string title = panel.name + "   thresholds " + number(h.LowerThreshold) + " .. " + number(h.UpperThreshold);
    if (h.MapType == kMapTypeF) title += "   F(" + std::to_string(h.DF1) + ", " + std::to_string(h.DF2) + ")";
    return title;
}

uint8_t greyOf(float mean, float brightest) {
    if (!(brightest > 0.0f) || !std::isfinite(mean)) return 0;
    return static_cast<uint8_t>(std::lround(std::clamp(mean / brightest, 0.0f, 1.0f) * 255.0f));
}

void fill(RgbImage& image, int x, int y, int size, const uint8_t rgb[3]) {
    for (int py = y; py < y + size; ++py) {
        for (int px = x; px < x + size; ++px) std::copy(rgb, rgb + 3, image.at(px, py));
    }
}

void drawSlices(RgbImage& image, const MosaicLayout& layout, int top, const MapContents& map,
                const std::vector<float>& mean, float brightest) {
    std::size_t l = 0;
    for (int z = 0; z < layout.dimZ; ++z) {
        for (int y = 0; y < layout.dimY; ++y) {
            for (int x = 0; x < layout.dimX; ++x, ++l) {
                uint8_t rgb[3];
                if (!mapColour(map.values[l], map.header.LowerThreshold, map.header.UpperThreshold, rgb)) {
                    const uint8_t grey = mean.empty() ? 0 : greyOf(mean[l], brightest);
                    std::fill(rgb, rgb + 3, grey);
                }
                const auto [px, py] = layout.pixelOf(x, y, z);
                fill(image, px, top + py, layout.zoom, rgb);
            }
        }
    }
}

// Positive values from the upper threshold (top) down to the lower, then the
// negative ones from minus the lower down to minus the upper.
void drawColourBar(RgbImage& image, const MosaicLayout& layout, int top, const MapHeader& h) {
    const int x0 = kMargin + layout.columns * (layout.dimX * layout.zoom + kGap) - kGap + kBarGap;
    const int height = std::max(layout.rows * (layout.dimY * layout.zoom + kGap) - kGap, 24);
    const int half = height / 2;
    const float lower = h.LowerThreshold, upper = h.UpperThreshold;
    for (int i = 0; i < height; ++i) {
        const float t = i < half ? 1.0f - static_cast<float>(i) / std::max(half - 1, 1)
                                 : static_cast<float>(i - half) / std::max(height - half - 1, 1);
        const float magnitude = lower + t * (upper - lower);
        uint8_t rgb[3];
        if (!mapColour(i < half ? magnitude : -magnitude, lower, upper, rgb)) std::fill(rgb, rgb + 3, 128);
        for (int x = x0; x < x0 + kBarWidth; ++x) std::copy(rgb, rgb + 3, image.at(x, top + kTitleHeight + i));
    }
    const int labelX = x0 + kBarWidth + 3;
    drawText(image, labelX, top + kTitleHeight, number(upper));
    drawText(image, labelX, top + kTitleHeight + half - 8, number(lower));
    drawText(image, labelX, top + kTitleHeight + half + 1, number(-lower));
    drawText(image, labelX, top + kTitleHeight + height - 7, number(-upper));
}

float brightestOf(const std::vector<float>& mean) {
    float brightest = 0.0f;
    for (float v : mean) {
        if (std::isfinite(v)) brightest = std::max(brightest, v);
    }
    return brightest;
}

// A picture of at most this many pixels (768 MiB of RGB) and at most this wide
// or high: a map of a few hundred voxels a side fits many times over.
constexpr int64_t kMaxPicturePixels = int64_t(1) << 28;
constexpr int64_t kMaxPictureSide = 1000000;

// Every size is worked out in 64 bits and bounded before it becomes an int:
// extents from a map's header may be anything up to 2^31 - 1.
MosaicLayout mosaicLayout(int dimX, int dimY, int dimZ, int zoom, int titleWidth, std::size_t panels) {
    const int64_t x = std::max(dimX, 1), y = std::max(dimY, 1), z = std::max(dimZ, 1);
    const int64_t pixels = zoom > 0 ? zoom : std::max<int64_t>(1, 96 / std::max(x, y));
    const auto columns = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(std::sqrt(static_cast<double>(z)))));
    const int64_t rows = (z + columns - 1) / columns;
    const int64_t mosaicWidth = columns * (x * pixels + kGap) - kGap;
    const int64_t mosaicHeight = std::max<int64_t>(rows * (y * pixels + kGap) - kGap, 24);
    const int64_t width =
        std::max<int64_t>(kMargin + mosaicWidth + kBarGap + kBarWidth + 3 + kLabelWidth, titleWidth + 2 * kMargin);
    const int64_t panelHeight = kTitleHeight + mosaicHeight + kMargin;
    // Each factor is bounded before a product is taken, so none of them wraps.
    const bool fits = width <= kMaxPictureSide && panelHeight <= kMaxPictureSide &&
                      static_cast<uint64_t>(panels) <= static_cast<uint64_t>(kMaxPictureSide);
    const int64_t height = fits ? panelHeight * static_cast<int64_t>(panels) : 0;
    if (!fits || height > kMaxPictureSide || width * height > kMaxPicturePixels) {
        throw DocumentError(std::to_string(panels) + " maps of " + std::to_string(dimX) + " x " + std::to_string(dimY) +
                            " x " + std::to_string(dimZ) + " voxels make panels of " + std::to_string(width) + " x " +
                            std::to_string(panelHeight) + " pixels; a picture holds at most " +
                            std::to_string(kMaxPictureSide) + " pixels a side and " +
                            std::to_string(kMaxPicturePixels) + " in all");
    }
    MosaicLayout layout;
    layout.dimX = static_cast<int>(x);
    layout.dimY = static_cast<int>(y);
    layout.dimZ = static_cast<int>(z);
    layout.zoom = static_cast<int>(pixels);
    layout.columns = static_cast<int>(columns);
    layout.rows = static_cast<int>(rows);
    layout.width = static_cast<int>(width);
    layout.panelHeight = static_cast<int>(panelHeight);
    return layout;
}

} // namespace

std::pair<int, int> MosaicLayout::pixelOf(int x, int y, int z) const {
    const int column = z % columns, row = z / columns;
    return {kMargin + column * (dimX * zoom + kGap) + x * zoom,
            kTitleHeight + row * (dimY * zoom + kGap) + (dimY - 1 - y) * zoom};
}

MosaicLayout panelLayout(const std::vector<MapPanel>& panels, int zoom) {
    if (panels.empty()) {
        throw DocumentError("no map to render");
    }
    const MapHeader& first = panels.front().map.header;
    int titleWidth = 0;
    for (const MapPanel& panel : panels) {
        const MapHeader& h = panel.map.header;
        if (h.DimX != first.DimX || h.DimY != first.DimY || h.DimZ != first.DimZ) {
            throw DocumentError(inQuotes(panel.name) + " has other extents than " + inQuotes(panels.front().name));
        }
        titleWidth = std::max(titleWidth, textWidth(titleOf(panel)));
    }
    return mosaicLayout(first.DimX, first.DimY, first.DimZ, zoom, titleWidth, panels.size());
}

bool mapColour(float value, float lower, float upper, uint8_t rgb[3]) {
    const float magnitude = std::fabs(value);
    if (!std::isfinite(value) || value == 0.0f || magnitude < lower) return false;
    const float t = upper > lower ? std::clamp((magnitude - lower) / (upper - lower), 0.0f, 1.0f) : 1.0f;
    const auto ramp = static_cast<uint8_t>(std::lround(t * 255.0f));
    if (rgb != nullptr) {
        rgb[0] = value > 0 ? 255 : 0;
        rgb[1] = ramp;
        rgb[2] = value > 0 ? 0 : 255;
    }
    return true;
}

RgbImage renderMaps(const std::vector<MapPanel>& panels, const std::vector<float>& meanImage, int zoom) {
    const MosaicLayout layout = panelLayout(panels, zoom);
    if (!meanImage.empty() && meanImage.size() != panels.front().map.values.size()) {
        throw DocumentError("the run's extents differ from the maps'");
    }
    RgbImage image(layout.width, layout.panelHeight * static_cast<int>(panels.size()), 0);
    const float brightest = brightestOf(meanImage);
    for (std::size_t i = 0; i < panels.size(); ++i) {
        const int top = static_cast<int>(i) * layout.panelHeight;
        drawText(image, kMargin, top + 4, titleOf(panels[i]));
        drawSlices(image, layout, top, panels[i].map, meanImage, brightest);
        drawColourBar(image, layout, top, panels[i].map.header);
    }
    return image;
}

} // namespace corvantis
