// "Corvantis make-sdm": a design file from tab-separated regressor tables.
#include <iostream>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/commands/OutputCheck.h"
#include "host/core/RunDocument.h"
#include "host/formats/ConfoundTable.h"
#include "host/formats/HostErrors.h"
#include "host/formats/RunFiles.h"
#include "host/formats/SdmWriter.h"
#include "host/research/DesignBuilder.h"

namespace corvantis {

namespace {

const char kHelp[] = R"(Usage: Corvantis make-sdm --table FILE.tsv [--table FILE.tsv...]
                         [--interest COL,...] [--confounds COL,...]
                         [--derivatives COL,...] [--squares COL,...]
                         [--volumes N | --fmr RUN] --output FILE.sdm

Writes a design matrix from tab-separated tables (a header row of column names,
one row per volume, "n/a" where a value is undefined):
  --table FILE        a table; give several to combine their columns (a column
                      name must then be in one table only)
  --interest COL,...  the predictors of interest, first in the design
  --confounds COL,... the confound predictors, after them
                      (FirstConfoundPredictor is set to the first of these)
  --derivatives COL,... adds the first difference of each column (its first
                      volume undefined), after the columns of its block
  --squares COL,...   adds the square of each column, and of its derivative
                      when that is asked for too
  --volumes N         refuses tables that do not have N rows
  --fmr RUN           the same, with N the run's number of volumes
  --output FILE       the .sdm to write (not one of the tables or the run)
"n/a" becomes the mean of the column's defined values; a constant comes last.
A value that is not a finite number ("inf", "nan", "1e999") and a design value
beyond the range of a float (a square or derivative of a large value) are
refused, naming the column and the row (the volume, from 1); nothing is written.
The options that take columns may be repeated. The usual 24-parameter motion
model is --confounds M --derivatives M --squares M with M the six motion columns.
)";

const std::vector<OptionSpec> kOptions = {{"table", true},       {"interest", true}, {"confounds", true},
                                          {"derivatives", true}, {"squares", true},  {"volumes", true},
                                          {"fmr", true},         {"output", true}};

std::vector<std::string> columnList(const CommandLine& line, const std::string& option) {
    std::vector<std::string> names;
    for (const std::string& value : line.values(option)) {
        for (const std::string& name : splitAt(value, ',')) {
            if (name.empty()) {
                throw UsageError("--" + option + " names an empty column in " + inQuotes(value));
            }
            names.push_back(name);
        }
    }
    return names;
}

// The run's volumes; its files join the inputs the output must not replace.
std::optional<int32_t> runVolumes(const CommandLine& line, std::vector<std::string>& inputs) {
    if (line.has("volumes") && line.has("fmr")) {
        throw UsageError("give --volumes or --fmr, not both");
    }
    if (const auto volumes = line.value("volumes")) {
        const std::optional<int32_t> n = parseInt32(*volumes);
        if (!n || *n < 1) {
            throw UsageError("--volumes must be a whole number of at least 1, not " + inQuotes(*volumes));
        }
        return n;
    }
    if (const auto fmr = line.value("fmr")) {
        const FmrDocument run = openRunDocument(*fmr);
        const std::vector<std::string> files = runFiles(*fmr, run);
        inputs.insert(inputs.end(), files.begin(), files.end());
        return run.layout().nrOfVolumes;
    }
    return std::nullopt;
}

int makeSdm(const std::vector<std::string>& args) {
    const CommandLine line = parseCommandLine(args, kOptions);
    if (line.helpRequested) {
        std::cout << kHelp << std::flush;
        return 0;
    }
    if (!line.operands.empty()) {
        throw UsageError("make-sdm takes no operands; unexpected " + inQuotes(line.operands.front()));
    }
    const std::optional<std::string> output = line.value("output");
    if (!output) {
        throw UsageError("make-sdm needs --output FILE.sdm");
    }
    if (!line.has("table")) {
        throw UsageError("make-sdm needs at least one --table FILE");
    }
    DesignRequest request;
    request.interest = columnList(line, "interest");
    request.confounds = columnList(line, "confounds");
    request.derivatives = columnList(line, "derivatives");
    request.squares = columnList(line, "squares");
    std::vector<std::string> inputs = line.values("table");
    if (const auto fmr = line.value("fmr")) inputs.push_back(*fmr);
    refuseOutputOverInput("--output", *output, inputs);
    const std::optional<int32_t> volumes = runVolumes(line, inputs);
    refuseOutputOverInput("--output", *output, inputs);
    std::vector<ConfoundTable> tables;
    for (const std::string& path : line.values("table")) tables.push_back(readConfoundTable(path));
    const DesignTable design = buildDesign(tables, request, volumes);
    writeSdmFile(*output, design);
    std::cout << "Wrote " << *output << " (" << design.columns.size() << " predictors, first confound "
              << design.firstConfoundPredictor << ", " << design.columns.front().size() << " data points)" << std::endl;
    return 0;
}

} // namespace

extern const Command kMakeSdmCommand = {"make-sdm", "write a design file from tab-separated regressor tables", kHelp,
                                        &kOptions, &makeSdm};

} // namespace corvantis
