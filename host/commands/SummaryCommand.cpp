// "Corvantis summary MAP...": a few numbers per saved map.
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/core/SavedMap.h"
#include "host/formats/HostErrors.h"
#include "host/research/MapSummary.h"

namespace corvantis {

namespace {

const char kHelp[] = R"(Usage: Corvantis summary MAP...

Prints one line per saved map, a .map or a NIfTI map a run wrote (.nii or
.nii.gz: thresholds from cal_min/cal_max, degrees of freedom from an F-test
intent, the map type from the description): its map type, thresholds and
degrees of freedom as saved, then over the voxels that hold a value (voxels outside the mask hold
exactly 0 and are left out, as are infinite and NaN values, which are counted
apart): how many there are, their minimum, median and maximum, how many are
above 0 and how many reach the lower threshold.
)";

const std::vector<OptionSpec> kOptions = {};

std::string dfText(const MapHeader& h) {
    return h.MapType == kMapTypeF ? std::to_string(h.DF1) + "," + std::to_string(h.DF2) : "-";
}

int summary(const std::vector<std::string>& args) {
    const CommandLine line = parseCommandLine(args, kOptions);
    if (line.helpRequested) {
        std::cout << kHelp << std::flush;
        return 0;
    }
    if (line.operands.empty()) {
        throw UsageError("summary takes one or more MAP files (.map, .nii or .nii.gz)");
    }
    std::printf("%-50s %4s %15s %7s %7s %10s %10s %10s %7s %7s %5s\n", "map", "type", "thresholds", "df", "voxels",
                "min", "median", "max", ">0", ">=low", "inf");
    for (const std::string& path : line.operands) {
        const MapContents map = readSavedMap(path);
        const MapStatistics s = summarize(map);
        char thresholds[64];
        std::snprintf(thresholds, sizeof thresholds, "%g..%g", map.header.LowerThreshold, map.header.UpperThreshold);
        std::printf("%-50s %4d %15s %7s %7lld %10.4g %10.4g %10.4g %7lld %7lld %5lld\n",
                    std::filesystem::path(path).filename().string().c_str(), map.header.MapType, thresholds,
                    dfText(map.header).c_str(), static_cast<long long>(s.withValue), s.min, s.median, s.max,
                    static_cast<long long>(s.positive), static_cast<long long>(s.aboveLower),
                    static_cast<long long>(s.nonFinite));
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

extern const Command kSummaryCommand = {"summary", "describe saved maps in a few numbers", kHelp, &kOptions, &summary};

} // namespace corvantis
