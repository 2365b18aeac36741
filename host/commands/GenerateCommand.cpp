// "Corvantis generate FOLDER": a realistic demo run with two design files.
#include <iostream>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/formats/HostErrors.h"
#include "host/research/DemoRun.h"

namespace corvantis {

namespace {

const char kHelp[] = R"(Usage: Corvantis generate [--size X,Y,Z] [--volumes N] [--seed N] FOLDER

Writes a generated functional run and two design matrices into FOLDER:
  run.fmr, run.stc            float time courses (default 24 x 24 x 10 voxels,
                              150 volumes, TR 2 s): a head in a background of
                              noise, slow drift, head motion that leaks into the
                              voxels near the head's edge, a block task response
                              in one region, and noise
  model1_drift.sdm            the task, then three cosine drifts as confounds
  model2_drift_motion.sdm     the same, plus the six motion parameters
The same seed always gives the same files. Then run, for example:
  Corvantis --fmr FOLDER/run.fmr --set sdmfile1=FOLDER/model1_drift.sdm \
            --set sdmfile2=FOLDER/model2_drift_motion.sdm start
)";

const std::vector<OptionSpec> kOptions = {{"size", true}, {"volumes", true}, {"seed", true}};

int32_t positiveNumber(const std::string& text, const std::string& what) {
    const std::optional<int32_t> n = parseInt32(text);
    if (!n || *n < 1 || *n > 4096) {
        throw UsageError(what + " must be a whole number from 1 to 4096, not " + inQuotes(text));
    }
    return *n;
}

int generate(const std::vector<std::string>& args) {
    const CommandLine line = parseCommandLine(args, kOptions);
    if (line.helpRequested) {
        std::cout << kHelp << std::flush;
        return 0;
    }
    if (line.operands.size() != 1) {
        throw UsageError("generate takes one FOLDER");
    }
    DemoRunSpec shape;
    if (const auto size = line.value("size")) {
        const std::size_t a = size->find(','), b = size->find(',', a == std::string::npos ? a : a + 1);
        if (a == std::string::npos || b == std::string::npos) {
            throw UsageError("--size takes X,Y,Z, not " + inQuotes(*size));
        }
        shape.dimX = positiveNumber(size->substr(0, a), "--size X");
        shape.dimY = positiveNumber(size->substr(a + 1, b - a - 1), "--size Y");
        shape.dimZ = positiveNumber(size->substr(b + 1), "--size Z");
    }
    if (const auto volumes = line.value("volumes")) shape.volumes = positiveNumber(*volumes, "--volumes");
    if (const auto seed = line.value("seed")) shape.seed = static_cast<uint32_t>(positiveNumber(*seed, "--seed"));
    const DemoRunFiles files = writeDemoRun(line.operands.front(), shape);
    std::cout << "Wrote " << files.fmr << " (" << shape.dimX << " x " << shape.dimY << " x " << shape.dimZ
              << " voxels, " << shape.volumes << " volumes)\n      " << files.model1 << "\n      " << files.model2
              << std::endl;
    return 0;
}

} // namespace

extern const Command kGenerateCommand = {"generate", "write a generated demo run and two design files", kHelp,
                                         &kOptions, &generate};

} // namespace corvantis
