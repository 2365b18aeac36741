// "Corvantis render MAP... -o FILE.png": a picture of saved maps.
#include <filesystem>
#include <iostream>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/commands/OutputCheck.h"
#include "host/core/RunDocument.h"
#include "host/core/SavedMap.h"
#include "host/formats/HostErrors.h"
#include "host/formats/RunFiles.h"
#include "host/research/MapPicture.h"

namespace corvantis {

namespace {

const char kHelp[] = R"(Usage: Corvantis render [--fmr RUN] [--zoom N] MAP... -o FILE.png

Draws each map (a .map, or a NIfTI map a run wrote: .nii or .nii.gz) as a
panel of the picture, one below the other: a title with
the map's file name and thresholds, its slices side by side (slice 0 top left,
y upwards) over the run's mean image in grey, and a colour bar. Values at or
beyond the lower threshold are coloured up to the upper threshold: red to
yellow for positive values, blue to cyan for negative ones.
  --fmr RUN        the run the maps belong to (.fmr, or .nii/.nii.gz); without
                   it the background is black
  --zoom N         pixels per voxel side (default: slices about 96 pixels wide)
  -o, --output FILE.png   the picture to write (not one of the maps or the run)
)";

const std::vector<OptionSpec> kOptions = {{"fmr", true}, {"zoom", true}, {"output", true}};

// "-o FILE" is the short form of "--output FILE".
std::vector<std::string> withLongOptions(std::vector<std::string> args) {
    for (std::string& arg : args) {
        if (arg == "-o") arg = "--output";
        if (arg == "--") break;
    }
    return args;
}

std::vector<float> meanImage(const FmrDocument& run) {
    const TimeCourses& tc = run.timeCourses();
    std::vector<float> mean(static_cast<std::size_t>(tc.voxels()));
    for (int32_t l = 0; l < tc.voxels(); ++l) {
        double sum = 0.0;
        for (int32_t t = 0; t < tc.volumes(); ++t) {
            sum += tc.dataType() == kDataTypeFloat32 ? tc.floatValue(t, l) : tc.int16Value(t, l);
        }
        mean[static_cast<std::size_t>(l)] = tc.volumes() > 0 ? static_cast<float>(sum / tc.volumes()) : 0.0f;
    }
    return mean;
}

int render(const std::vector<std::string>& args) {
    const CommandLine line = parseCommandLine(withLongOptions(args), kOptions);
    if (line.helpRequested) {
        std::cout << kHelp << std::flush;
        return 0;
    }
    const std::optional<std::string> output = line.value("output");
    if (!output) {
        throw UsageError("render needs -o FILE.png");
    }
    if (line.operands.empty()) {
        throw UsageError("render takes one or more MAP files");
    }
    int zoom = 0;
    if (const auto text = line.value("zoom")) {
        const std::optional<int32_t> n = parseInt32(*text);
        if (!n || *n < 1 || *n > 64) {
            throw UsageError("--zoom must be a whole number from 1 to 64, not " + inQuotes(*text));
        }
        zoom = *n;
    }
    std::vector<std::string> inputs = line.operands;
    if (const auto fmr = line.value("fmr")) inputs.push_back(*fmr);
    refuseOutputOverInput("--output", *output, inputs);
    std::vector<MapPanel> panels;
    for (const std::string& path : line.operands) {
        panels.push_back({std::filesystem::path(path).filename().string(), readSavedMap(path)});
    }
    std::vector<float> mean;
    if (const auto fmr = line.value("fmr")) {
        const FmrDocument run = openRunDocument(*fmr);
        refuseOutputOverInput("--output", *output, runFiles(*fmr, run));
        mean = meanImage(run);
    }
    const RgbImage picture = renderMaps(panels, mean, zoom);
    writePng(*output, picture);
    std::cout << "Wrote " << *output << " (" << picture.width << " x " << picture.height << " pixels, " << panels.size()
              << (panels.size() == 1 ? " map)" : " maps)") << std::endl;
    return 0;
}

} // namespace

extern const Command kRenderCommand = {"render", "draw saved maps as a PNG picture", kHelp, &kOptions, &render};

} // namespace corvantis
