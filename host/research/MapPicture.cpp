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
    std::vector<float> vertices(16 * 16 * (text.size() + 1));  // room for 16 quads a character; the font stops when full
    unsigned char white[4] = {255, 255, 255, 255};
    const int quads = stb_easy_font_print(static_cast<float>(x), static_cast<float>(y), const_cast<char*>(text.c_str()),
                                          white, vertices.data(), static_cast<int>(vertices.size() * sizeof(float)));
    const float* all = vertices.data();
    for (int q = 0; q < quads; ++q) {
        const float* v = all + q * 16;  // 4 vertices of x, y, z and a packed colour
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

MosaicLayout mosaicLayout(int dimX, int dimY, int dimZ, int zoom, int titleWidth) {
    MosaicLayout layout;
    layout.dimX = std::max(dimX, 1);
    layout.dimY = std::max(dimY, 1);
    layout.dimZ = std::max(dimZ, 1);
    layout.zoom = zoom > 0 ? zoom : std::max(1, 96 / std::max(layout.dimX, layout.dimY));
    layout.columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(layout.dimZ)))));
    layout.rows = (layout.dimZ + layout.columns - 1) / layout.columns;
    const int mosaicWidth = layout.columns * (layout.dimX * layout.zoom + kGap) - kGap;
    const int mosaicHeight = std::max(layout.rows * (layout.dimY * layout.zoom + kGap) - kGap, 24);
    layout.width = std::max(kMargin + mosaicWidth + kBarGap + kBarWidth + 3 + kLabelWidth, titleWidth + 2 * kMargin);
    layout.panelHeight = kTitleHeight + mosaicHeight + kMargin;
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
    return mosaicLayout(first.DimX, first.DimY, first.DimZ, zoom, titleWidth);
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
