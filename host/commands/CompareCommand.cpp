// compare: one run under two confound strategies, from the pipeline's tables
// to maps, p-values and a summary.
#include <cmath>
#include <iostream>
#include <optional>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/core/Parameters.h"
#include "host/formats/HostErrors.h"
#include "host/formats/TabSeparated.h"
#include "host/formats/WorkerThreads.h"
#include "host/research/ConfoundStrategy.h"
#include "host/research/RunComparison.h"

namespace corvantis {

namespace {

const char kHelp[] = R"(Corvantis compare - compare two confound models on one preprocessed run

Usage:
  Corvantis compare --run RUN --confounds TABLE [--events EVENTS] [--tr SECONDS]
                    --model1 STRATEGY --model2 STRATEGY --out DIR
                    [--mask MASK] [--threshold auto|N] [--fdr-q Q] [--no-standardize]
                    [--cleaned-runs none|model1|model2|both] [--threads N] [--sync]

Builds a design for each strategy from the confounds table a preprocessing
pipeline wrote for the run, checks both designs, fits both to every selected
voxel through the Quorvex plug-in and writes the maps, an F test of model 2
against model 1 with its p-values, and a summary into DIR.

Inputs:
  --run RUN             the preprocessed run: a 4D NIfTI-1 image (.nii or
                        .nii.gz) of any real data type, int16 or float32 say,
                        its scl_slope and scl_inter applied, read as float32;
                        or an .fmr with its .stc of float32 values (DataType 2;
                        an .fmr of int16 values is refused)
  --confounds TABLE     the pipeline's tab-separated confounds table, one row
                        per volume; its JSON sidecar (TABLE with .json in place
                        of .tsv) is read when it is beside it (compcor needs it)
  --events EVENTS       a BIDS events file (onset, duration, trial_type): each
                        condition becomes a regressor of interest in both
                        models, convolved with the canonical response at the
                        run's TR
  --tr SECONDS          the run's repetition time. By default the run's header
                        gives it; where the header says 0 (unknown), the run's
                        JSON sidecar beside it (RUN with .json in place of
                        .nii.gz, .nii or .fmr) does with "RepetitionTime"; the
                        two must agree, and so must --tr with either. Events
                        with no TR known are refused
  --model1 STRATEGY     the smaller model, e.g. 6P
  --model2 STRATEGY     the fuller model, e.g. 36P; model 1 must lie inside it
                        for the F test. A STRATEGY is a preset (6P, 9P, 24P,
                        36P, simple, scrubbing, compcor), components
                        (motion=full,wm_csf=basic,high_pass, ...) or columns by
                        name or pattern; "Corvantis make-sdm --help" lists them
                        all with their exact columns
  --no-standardize      keep the table's values as they are; by default every
                        non-constant column is demeaned and scaled to unit
                        variance, so each voxel's cleaned run keeps its mean

Voxels:
  --mask MASK           analyse exactly the voxels inside this brain mask (a 3D
                        NIfTI-1 image on the run's grid; non-zero is inside).
                        The values inside are never changed; in the cleaned
                        runs the voxels outside it are 0 (NaN when the run has
                        values at or below 0 inside the mask)
  --threshold auto|N    without a mask: analyse the voxels whose value stays
                        above N in every volume. auto (the default) takes N
                        10% of the way from the 2nd to the 98th percentile of
                        the run's mean image, which leaves out the background
                        at any scanner's scale, and reports it
  The number of voxels analysed is always reported.

The test:
  --fdr-q Q             the false discovery rate of the Benjamini-Hochberg
                        threshold of the F test's p-values (default 0.05)

Speed:
  --threads N           read and write .nii.gz with N threads (1 to 1024;
                        default: the machine's cores); the files are the same
                        whatever N

Checks before anything runs: a model with no residual degrees of freedom is
refused, one with under 10 is warned about; columns that are combinations of
the columns before them are named and left out of the design before the fit
(the summary lists them in "columns_left_out"), so both models are fitted at
full rank and the F test's degrees of freedom are theirs; model 1
fuller than model 2 is refused (swap them); models that are not nested get no
F map and no p-values (the summary says "nested": false) while tSNR and
adjusted R squared still compare.

Outputs:
  --out DIR             the folder everything is written into, made when
                        missing; earlier outputs of the same run and strategies
                        in it are replaced, inputs never
  --cleaned-runs none|model1|model2|both
                        which runs cleaned of a model's confounds are written
                        (default both); the maps and the summary's numbers are
                        the same whichever
  --sync                flush every output to disk before it is renamed into
                        place, so that even a power loss cannot lose it; by
                        default each is written whole and checked, then renamed
                        (a killed program never leaves a cut file, a power loss
                        can lose the newest)
In DIR (RUN is the run's name without .nii.gz, S1 and S2 the strategies as
given, "," as "+"; files of a NIfTI run are .nii.gz, of an .fmr run .map and .fmr;
a byte of RUN that is not UTF-8 or a control character is written \xNN):
  RUN_S1.sdm, RUN_S2.sdm and their .json records   the two designs
  RUN_S1_tSNR_residuals, RUN_S2_tSNR_residuals     tSNR of each model's residuals
  RUN_S2_tSNR_diff_RUN_S1                          model 2's tSNR minus model 1's
  RUN_S1_R2adj, RUN_S2_R2adj, RUN_S2_R2adj_diff_RUN_S1   adjusted R squared
  RUN_S2_Fval_diff_RUN_S1                          the F map (nested models)
  RUN_S2_Fval_diff_RUN_S1_neglog10p                -log10(p) of that F
  RUN_min_confounds_of_RUN_S1, ..._RUN_S2          the run cleaned of each model
  RUN_S1_vs_S2_summary.json
                        voxels analysed, n, predictors, rank, residual df,
                        condition numbers, nesting, the F test's df, the FDR
                        threshold (-log10 p) and the voxels surviving it,
                        quartiles of every map over the analysed voxels, the
                        share of voxels where model 2 raises tSNR, warnings,
                        timings and the files written
Everything is made in a hidden folder inside DIR, under short names whatever
RUN's length, and moved into place when complete, the summary last; a move that
fails puts back every file moved before it. Nothing is written beside the
inputs, and no output may replace an input. p-values come from the F distribution (Boost.Math); where p is below
the smallest double, -log10(p) comes from the logarithm of the tail's series
and stays finite.

Example: does the 36-parameter model clean this run better than 6 motion
parameters?
  Corvantis compare --run sub-01_task-rest_bold.nii.gz \
      --confounds sub-01_task-rest_desc-confounds_timeseries.tsv \
      --model1 6P --model2 36P --mask sub-01_task-rest_desc-brain_mask.nii.gz \
      --out compare-6P-36P
  then read compare-6P-36P/sub-01_task-rest_bold_6P_vs_36P_summary.json:
  "share_tsnr_raised" and "median_delta_tsnr" say whether model 2 raised tSNR,
  "fdr" how many voxels its extra columns explain beyond chance.

Exit status: 0 when everything was written; 1 for an input or design that
cannot be used, a failed run or a file that cannot be written (DIR then holds
nothing new); 2 for a mistake in the command line.
)";

const std::vector<OptionSpec> kOptions = {
    {"run", true},     {"confounds", true},    {"events", true},    {"model1", true}, {"model2", true},
    {"out", true},     {"mask", true},         {"threshold", true}, {"fdr-q", true},  {"no-standardize", false},
    {"threads", true}, {"cleaned-runs", true}, {"sync", false},     {"tr", true},
};

std::string required(const CommandLine& line, const std::string& name) {
    const std::optional<std::string> value = line.value(name);
    if (!value || value->empty()) throw UsageError("compare needs --" + name);
    return *value;
}

std::optional<float> thresholdOf(const CommandLine& line) {
    const std::optional<std::string> text = line.value("threshold");
    if (!text || *text == "auto") return std::nullopt;
    const std::optional<float> value = floatParameterValue(*text);
    if (!value || !std::isfinite(*value)) {
        throw UsageError("--threshold takes auto or a finite number, not " + inQuotes(*text));
    }
    return value;
}

double fdrQOf(const CommandLine& line) {
    const std::optional<std::string> text = line.value("fdr-q");
    if (!text) return 0.05;
    std::size_t used = 0;
    double q = 0;
    try {
        q = std::stod(*text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text->size() || !(q > 0.0 && q < 1.0)) {
        throw UsageError("--fdr-q takes a number between 0 and 1, not " + inQuotes(*text));
    }
    return q;
}

std::optional<double> trOf(const CommandLine& line) {
    const std::optional<std::string> text = line.value("tr");
    if (!text) return std::nullopt;
    const std::optional<double> seconds = finiteNumber(*text);
    if (!seconds || *seconds <= 0.0) {
        throw UsageError("--tr must be a number of seconds above 0, not " + inQuotes(*text));
    }
    return seconds;
}

// The largest --threads, as for the run command.
constexpr int32_t kMaxThreads = 1024;

int threadsOf(const CommandLine& line) {
    const std::optional<std::string> text = line.value("threads");
    if (!text) return machineThreads();
    const std::optional<int32_t> value = parseInt32(*text);
    if (!value || *value < 1 || *value > kMaxThreads) {
        throw UsageError("--threads takes a whole number from 1 to " + std::to_string(kMaxThreads) + ", not " +
                         inQuotes(*text));
    }
    return *value;
}

CleanedRuns cleanedRunsOf(const CommandLine& line, CleanedRuns fallback) {
    const std::optional<std::string> text = line.value("cleaned-runs");
    if (!text) return fallback;
    const std::optional<CleanedRuns> choice = parseCleanedRuns(*text);
    if (!choice) throw UsageError("--cleaned-runs takes " + cleanedRunsChoices() + ", not " + inQuotes(*text));
    return *choice;
}

void checkStrategy(const std::string& option, const std::string& text) {
    try {
        parseConfoundStrategy(text);
    } catch (const StrategyError& error) {
        throw UsageError("--" + option + " " + inQuotes(text) + ": " + error.what());
    }
}

int compare(const std::vector<std::string>& args) {
    const CommandLine line = parseCommandLine(args, kOptions);
    if (line.helpRequested) {
        std::cout << kHelp << std::flush;
        return 0;
    }
    if (!line.operands.empty()) {
        throw UsageError("compare takes no operands; unexpected " + inQuotes(line.operands.front()));
    }
    CompareRequest request;
    request.run = required(line, "run");
    request.confounds = required(line, "confounds");
    request.events = line.value("events");
    request.tr = trOf(line);
    request.model1 = required(line, "model1");
    request.model2 = required(line, "model2");
    checkStrategy("model1", request.model1);
    checkStrategy("model2", request.model2);
    request.outDir = required(line, "out");
    request.mask = line.value("mask");
    if (request.mask && line.has("threshold")) {
        throw UsageError("give --mask or --threshold, not both: a mask selects the voxels itself");
    }
    request.threshold = thresholdOf(line);
    request.fdrQ = fdrQOf(line);
    request.standardize = !line.has("no-standardize");
    request.threads = threadsOf(line);
    request.cleanedRuns = cleanedRunsOf(line, CleanedRuns{true, true});
    request.durability = line.has("sync") ? Durability::Flushed : Durability::Complete;
    const CompareResult result = compareRun(request, std::cout);
    std::cout << "Summary: " << result.summaryPath << std::endl;
    return 0;
}

} // namespace

extern const Command kCompareCommand;
const Command kCompareCommand = {"compare", "compare two confound strategies on one run, with p-values and a summary",
                                 kHelp, &kOptions, &compare};

} // namespace corvantis
