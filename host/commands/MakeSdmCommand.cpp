// "Corvantis make-sdm": a design file from a preprocessing pipeline's confounds
// table, a confound strategy, task events and tab-separated regressor tables.
#include <cmath>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/commands/OutputCheck.h"
#include "host/core/RunDocument.h"
#include "host/formats/AtomicFile.h"
#include "host/formats/ConfoundTable.h"
#include "host/formats/EventsTable.h"
#include "host/formats/HostErrors.h"
#include "host/formats/RunFiles.h"
#include "host/formats/SdmWriter.h"
#include "host/formats/TabSeparated.h"
#include "host/research/ConfoundStrategy.h"
#include "host/research/DesignCheck.h"
#include "host/research/DesignRecord.h"
#include "host/research/PipelineSidecar.h"
#include "host/research/RunTiming.h"
#include "host/research/StrategyDesign.h"

namespace corvantis {

namespace {

const char kUsage[] = R"(Usage: Corvantis make-sdm [--table FILE.tsv...] [--table-json FILE.json]
                         [--strategy STRATEGY] [--confounds COL,...]
                         [--interest COL,...] [--events FILE.tsv] [--tr SECONDS]
                         [--hrf-derivative] [--derivatives COL,...]
                         [--squares COL,...] [--no-standardize]
                         [--volumes N | --fmr RUN] --output FILE.sdm

Writes a design matrix for one run, and beside it (FILE.json) a record of how
every column was made. Columns of interest come first, then the confounds
(FirstConfoundPredictor points at the first), then a constant.

Example: a task run preprocessed by a pipeline, its events, and the 24
motion parameters, the white-matter and CSF signals and the drifts:
  Corvantis make-sdm --fmr sub-01_task-go_bold.nii.gz \
      --table sub-01_task-go_desc-confounds_timeseries.tsv \
      --events sub-01_task-go_events.tsv --strategy simple --output simple.sdm
This writes simple.sdm and simple.json; the design has one column per trial
type of the events (sorted by name), the 24 motion columns, white_matter, csf,
every cosineNN column and the constant, each column but the constant z-scored;
it prints the design's rank, residual degrees of freedom and condition number.

Options:
  --table FILE        a tab-separated table (a header row of column names, one
                      row per volume, "n/a" where a value is undefined); the
                      first is the pipeline's confounds table the strategy
                      reads. Give several to combine their columns (a column
                      name must then be in one table only)
  --table-json FILE   the first table's JSON sidecar, which compcor needs
                      (default: the table's name with .json for .tsv, read when
                      the strategy has compcor)
  --strategy STRATEGY the confounds, as presets, components and columns (below)
  --confounds COL,... more confound columns, by name or glob pattern, after
                      the strategy's
  --interest COL,...  table columns of interest (names or patterns), after the
                      event regressors
  --events FILE       a BIDS events table (onset, duration in seconds from the
                      first volume, trial_type): one regressor per condition,
                      its boxcar convolved with the canonical double-gamma
                      response (peak shape 6, undershoot shape 16 at 1/6, scale
                      1 s, 32 s long, integral 1) on a grid of TR/16, taken at
                      the middle of each volume (k*TR + TR/2, k from 0); an
                      event of duration 0 is an impulse of one second's weight
  --tr SECONDS        the repetition time; by default the run's (--fmr): its
                      header's, or where that says 0 (unknown), the
                      "RepetitionTime" of its JSON sidecar (RUN.json beside it)
  --hrf-derivative    adds each condition's temporal derivative, NAME_derivative
  --derivatives COL,... adds the first difference of each column of --interest
                      or --confounds (its first volume the column's mean), after
                      the columns of its block (NAME derivative)
  --squares COL,...   adds the square of each such column, and of its
                      derivative when that is asked for too
  --no-standardize    keeps every column's values as they are; by default each
                      column but the constant is z-scored (mean 0, standard
                      deviation 1 with divisor n), so the cleaned run keeps each
                      voxel's mean and the fit is well conditioned. Spike
                      columns (scrub) are z-scored too: they still remove their
                      volume exactly
  --volumes N         the run's number of volumes; tables must have N rows
  --fmr RUN           the run (.fmr or NIfTI): its volumes and its TR
  --output FILE       the .sdm to write (not one of the inputs); FILE.json too,
                      which must not be an input or a table's sidecar (X.tsv's X.json)

"n/a" becomes the mean of the column's defined values, before z-scoring; the
record says how many were filled and with what. A column that is constant (its
values all equal after that) is refused: the constant already stands for it.
A value that is not a finite number and a design value beyond the range of a
float are refused, naming the column and the row (the volume, from 1).
Before writing, the design is checked: one with no residual degrees of freedom
(volumes minus rank) is refused; fewer than 10 are warned about, and columns
that are linear combinations of the columns before them are named. Nothing is
written when anything is refused. The options that take columns may be repeated.

)";

const std::vector<OptionSpec> kOptions = {{"table", true},     {"table-json", true},      {"strategy", true},
                                          {"confounds", true}, {"interest", true},        {"events", true},
                                          {"tr", true},        {"hrf-derivative", false}, {"derivatives", true},
                                          {"squares", true},   {"no-standardize", false}, {"volumes", true},
                                          {"fmr", true},       {"output", true}};

// The usage and the strategy grammar with every preset's columns, the latter
// generated from the table the parser reads.
const std::string& helpPage() {
    static const std::string page = kUsage + strategyHelp();
    return page;
}

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

struct RunFacts {
    std::optional<int32_t> volumes;
    RepetitionTime tr;
};

// The run's volumes and TR; its files join the inputs the outputs must not replace.
RunFacts runFacts(const CommandLine& line, std::vector<std::string>& inputs) {
    if (line.has("volumes") && line.has("fmr")) {
        throw UsageError("give --volumes or --fmr, not both");
    }
    RunFacts facts;
    if (const auto volumes = line.value("volumes")) {
        const std::optional<int32_t> n = parseInt32(*volumes);
        if (!n || *n < 1) {
            throw UsageError("--volumes must be a whole number of at least 1, not " + inQuotes(*volumes));
        }
        facts.volumes = n;
    }
    if (const auto fmr = line.value("fmr")) {
        const FmrDocument run = openRunDocument(*fmr);
        const std::vector<std::string> files = runFiles(*fmr, run);
        inputs.insert(inputs.end(), files.begin(), files.end());
        facts.volumes = run.layout().nrOfVolumes;
        facts.tr = runRepetitionTime(run, *fmr);
        if (!facts.tr.sidecar.empty()) inputs.push_back(facts.tr.sidecar);
    }
    if (const auto tr = line.value("tr")) {
        const std::optional<double> seconds = finiteNumber(*tr);
        if (!seconds || *seconds <= 0.0) {
            throw UsageError("--tr must be a number of seconds above 0, not " + inQuotes(*tr));
        }
        try {
            facts.tr = chosenRepetitionTime(facts.tr, seconds);
        } catch (const DocumentError& error) {
            throw UsageError(error.what());
        }
    }
    return facts;
}

bool needsSidecar(const ConfoundStrategy& strategy) { return strategy.compcor.has_value(); }

// The first table's sidecar: the one named, or the one beside the table when the strategy needs it.
std::optional<PipelineSidecar> tableSidecar(const CommandLine& line, const ConfoundStrategy& strategy) {
    if (const auto path = line.value("table-json")) return readPipelineSidecar(*path);
    if (!needsSidecar(strategy) || !line.has("table")) return std::nullopt;
    return findPipelineSidecar(line.values("table").front());
}

ConfoundStrategy strategyOf(const CommandLine& line) {
    const std::optional<std::string> text = line.value("strategy");
    if (!text) return ConfoundStrategy{};
    try {
        return parseConfoundStrategy(*text);
    } catch (const StrategyError& error) {
        throw UsageError(std::string("--strategy: ") + error.what());
    }
}

void warn(const std::string& message) { std::cerr << "Corvantis: warning: " << message << "\n"; }

// The design and its record, both or neither: each is staged in full beside
// its target (the design first, so that a folder that takes no file is
// reported by the design's name) and committed only once both are staged.
void writeDesignAndRecord(const std::string& output, const std::string& recordPath, const BuiltDesign& built,
                          const DesignInputs& inputs) {
    if (!designRecordsSupported()) {
        writeSdmFile(output, built.table);
        warn("this build writes no JSON record of the design (" + recordPath + ")");
        return;
    }
    const std::string design = formatSdm(built.table);
    const std::string record = designRecordJson(built, inputs);
    AtomicFile stagedDesign(output);
    stagedDesign.write(design.data(), design.size());
    AtomicFile stagedRecord(recordPath);
    stagedRecord.write(record.data(), record.size());
    stagedDesign.commit();
    try {
        stagedRecord.commit();
    } catch (const SaveError&) {
        std::error_code ignored;
        std::filesystem::remove(output, ignored);
        throw;
    }
}

int makeSdm(const std::vector<std::string>& args) {
    const CommandLine line = parseCommandLine(args, kOptions);
    if (line.helpRequested) {
        std::cout << helpPage() << std::flush;
        return 0;
    }
    if (!line.operands.empty()) {
        throw UsageError("make-sdm takes no operands; unexpected " + inQuotes(line.operands.front()));
    }
    const std::optional<std::string> output = line.value("output");
    if (!output) {
        throw UsageError("make-sdm needs --output FILE.sdm");
    }
    if (!line.has("table") && !line.has("events")) {
        throw UsageError("make-sdm needs at least one --table FILE or --events FILE");
    }
    const std::string recordPath = designRecordPath(*output);
    const ConfoundStrategy strategy = strategyOf(line);
    DesignInputs inputs;
    inputs.interest = columnList(line, "interest");
    inputs.confounds = columnList(line, "confounds");
    inputs.derivatives = columnList(line, "derivatives");
    inputs.squares = columnList(line, "squares");
    inputs.standardize = !line.has("no-standardize");
    inputs.hrfDerivative = line.has("hrf-derivative");
    std::vector<std::string> given = line.values("table");
    for (const char* option : {"table-json", "events", "fmr"}) {
        if (const auto path = line.value(option)) given.push_back(*path);
    }
    // Each table's sidecar beside it too: the strategy may read it, and the
    // pipeline's file must not become the design's record (X.tsv's X.json).
    for (const std::string& table : line.values("table")) given.push_back(sidecarPathOfTable(table));
    for (const std::string& out : {*output, recordPath}) refuseOutputOverInput("--output", out, given);
    const RunFacts run = runFacts(line, given);
    for (const std::string& out : {*output, recordPath}) refuseOutputOverInput("--output", out, given);
    inputs.volumes = run.volumes;
    inputs.tr = run.tr.seconds;
    for (const std::string& path : line.values("table")) inputs.tables.push_back(readConfoundTable(path));
    inputs.sidecar = tableSidecar(line, strategy);
    if (const auto events = line.value("events")) inputs.events = readEventsTable(*events);
    if (inputs.events && !inputs.tr) {
        throw UsageError(line.has("fmr") ? "--events needs the run's TR: " + run.tr.source + "; give --tr SECONDS"
                                         : "--events needs the run's TR: give --tr SECONDS, or --fmr RUN with a TR");
    }
    const BuiltDesign built = buildStrategyDesign(inputs, strategy);
    const DesignCheck check = checkDesign(built.table, inQuotes(*output));
    for (const std::string& message : built.warnings) warn(message);
    for (const std::string& message : check.warnings) warn(message);
    writeDesignAndRecord(*output, recordPath, built, inputs);
    std::cout << "Wrote " << *output << " (" << built.table.columns.size() << " predictors, first confound "
              << built.table.firstConfoundPredictor << ", " << check.volumes << " data points; rank " << check.rank
              << ", " << check.residualDf << " residual degrees of freedom, condition number " << check.conditionNumber
              << ")" << (designRecordsSupported() ? " and " + recordPath : "") << std::endl;
    return 0;
}

} // namespace

extern const Command kMakeSdmCommand = {"make-sdm",
                                        "write a design file from a confound strategy, task events and tables",
                                        helpPage().c_str(), &kOptions, &makeSdm};

} // namespace corvantis
