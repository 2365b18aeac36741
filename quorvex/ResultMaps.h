// The result maps of a run, one row each in the order they are saved, and the
// residual switches beside them: the one list of the run's output switches.
// The switch reading, the saving of the maps, the tests, the dialog script
// (quorvex/Quorvex.js) and the help page (quorvex/HelpFolder/index.html) all
// follow it; a new map is a new row here, a param(...) line in the dialog
// script and a row of the help page's table.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/HostKit.h"
#include "quorvex/VoxelLoop.h"

// A map's values: one of the run's result volumes as it stands (stored), or a
// volume formed from them just before the map's save and released after it
// (formed; a difference is model 2's volume minus model 1's, by Volume::operator-).
// Exactly one of the two is set.
struct MapValues {
    const Volume* (*stored)(const VoxelLoopResults& results);
    Volume (*formed)(const VoxelLoopResults& results);
};

namespace mapvalues {
inline constexpr MapValues tSNR1{[](const VoxelLoopResults& r) { return &r.tSNR[0]; }, nullptr};
inline constexpr MapValues tSNR2{[](const VoxelLoopResults& r) { return &r.tSNR[1]; }, nullptr};
inline constexpr MapValues tSNRDifference{nullptr, [](const VoxelLoopResults& r) { return r.tSNR[1] - r.tSNR[0]; }};
inline constexpr MapValues r2adj1{[](const VoxelLoopResults& r) { return &r.r2adj[0]; }, nullptr};
inline constexpr MapValues r2adj2{[](const VoxelLoopResults& r) { return &r.r2adj[1]; }, nullptr};
inline constexpr MapValues r2adjDifference{nullptr, [](const VoxelLoopResults& r) { return r.r2adj[1] - r.r2adj[0]; }};
inline constexpr MapValues F{[](const VoxelLoopResults& r) { return &r.F; }, nullptr};
} // namespace mapvalues

// How a map's upper threshold is found: the row's value as it is, or the row's
// value times the largest element of the map's volume (row value * max).
enum class UpperThreshold { fixed, timesLargest };

// The degrees of freedom a map writes into the header (0 leaves the host's
// value). fTest: df1 = |p2 - p1| and df2 = n - p2, each 0 when not positive;
// the map exists only when p1 != p2 (otherwise the run logs that it could not
// be created).
enum class DegreesOfFreedom { none, fTest };

// Whose design-file path, without its last extension, starts a map's name.
enum class NameStem { model1, model2 };

struct ResultMap {
    const char* switchName; // the dialog's parameter; non-zero saves the map
    MapValues values;
    int32_t mapType; // MapHeader::MapType
    float lowerThreshold;
    float upperThreshold; // see upperRule
    UpperThreshold upperRule;
    DegreesOfFreedom degreesOfFreedom;
    NameStem stem;     // the file name is stem + infix [+ model 1's file name without
    const char* infix; // its extension, when namesModel1] + ".map"
    bool namesModel1;
};

// In saving order. The thresholds are the floats nearest to the decimals.
inline constexpr ResultMap kResultMaps[] = {
    {"tSNR1", mapvalues::tSNR1, kMapTypePlain, 5.0f, 100.0f, UpperThreshold::fixed, DegreesOfFreedom::none,
     NameStem::model1, "_tSNR_residuals", false},
    {"tSNR2", mapvalues::tSNR2, kMapTypePlain, 5.0f, 100.0f, UpperThreshold::fixed, DegreesOfFreedom::none,
     NameStem::model2, "_tSNR_residuals", false},
    {"tSNR3", mapvalues::tSNRDifference, kMapTypePlain, 1.0f, 20.0f, UpperThreshold::fixed, DegreesOfFreedom::none,
     NameStem::model2, "_tSNR_diff_", true},
    {"R2adj1", mapvalues::r2adj1, kMapTypePlain, 0.1f, 0.5f, UpperThreshold::fixed, DegreesOfFreedom::none,
     NameStem::model1, "_R2adj", false},
    {"R2adj2", mapvalues::r2adj2, kMapTypePlain, 0.1f, 0.5f, UpperThreshold::fixed, DegreesOfFreedom::none,
     NameStem::model2, "_R2adj", false},
    {"R2adj3", mapvalues::r2adjDifference, kMapTypePlain, 0.05f, 0.5f, UpperThreshold::fixed, DegreesOfFreedom::none,
     NameStem::model2, "_R2adj_diff_", true},
    {"Fmap", mapvalues::F, kMapTypeF, 2.0f, 0.5f, UpperThreshold::timesLargest, DegreesOfFreedom::fTest,
     NameStem::model2, "_Fval_diff_", true},
};
inline constexpr int kResultMapCount = static_cast<int>(sizeof kResultMaps / sizeof kResultMaps[0]);

// The switches that save the run cleaned of model 1's, model 2's confounds;
// the run reads them after the map switches.
inline constexpr const char* kResidualSwitches[2] = {"residuals1", "residuals2"};

// The map's file name for the two design files (their paths as given).
std::string mapFileName(const ResultMap& map, const std::string& model1File, const std::string& model2File);

// The map's degrees of freedom for models of p1 and p2 columns on n volumes;
// exists is false where the map cannot be made (an F test of equal column
// counts).
struct MapDegreesOfFreedom {
    bool exists;
    int32_t df1;
    int32_t df2;
};
MapDegreesOfFreedom mapDegreesOfFreedom(const ResultMap& map, int32_t p1, int32_t p2, int32_t n);
