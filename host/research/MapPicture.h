// A picture of saved maps: per map a title with its name and thresholds, its
// slices side by side over the run's mean image in grey, and a colour bar.
// Values at or beyond the lower threshold are coloured, red to yellow up to the
// upper threshold for positive ones, blue to cyan for negative ones.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/formats/PngFile.h"
#include "host/research/MapSummary.h"

namespace corvantis {

struct MapPanel {
    std::string name;
    MapContents map;
};

// Where one panel's parts are; panels are stacked from the top.
struct MosaicLayout {
    int dimX = 0, dimY = 0, dimZ = 0;
    int zoom = 1;    // pixels per voxel side
    int columns = 1; // slices per row
    int rows = 1;
    int width = 0;       // of the picture
    int panelHeight = 0; // of one map's panel
    // The top-left pixel of voxel (x, y, z) in the first panel; the voxel covers
    // zoom x zoom pixels. y grows upwards in the picture, as in a viewer.
    std::pair<int, int> pixelOf(int x, int y, int z) const;
};

// The layout renderMaps uses; zoom 0 picks one that makes a slice about 96
// pixels wide. Throws DocumentError when the maps' extents differ.
MosaicLayout panelLayout(const std::vector<MapPanel>& panels, int zoom);

// meanImage holds one value per voxel (the run's mean over time), or is empty
// for a black background. Throws DocumentError for maps of other extents.
RgbImage renderMaps(const std::vector<MapPanel>& panels, const std::vector<float>& meanImage, int zoom);

// The colour of a value, or false when it stays grey ; rgb may be null.
bool mapColour(float value, float lower, float upper, uint8_t rgb[3]);

} // namespace corvantis
