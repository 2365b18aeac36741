// One run compared under two confound strategies, as a researcher asks for it:
// both designs built from the pipeline's confounds table and checked before
// anything runs, the plug-in run through its exports as the host runs it, the
// F test's p-values and false-discovery-rate cut, and a summary. Everything is
// made in a hidden folder inside the output folder, where the plug-in works
// under short names, and moved into place under the real names only when all
// of it is written, the summary last; a failed move undoes the ones before it.
// Names: ComparisonNames.h.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "host/formats/AtomicFile.h"
#include "host/research/ComparisonSummary.h"

namespace corvantis {

// Which runs cleaned of a model's confounds are written; the maps and the
// summary's numbers are the same whichever.
struct CleanedRuns {
    bool model1 = true;
    bool model2 = true;
    bool operator==(const CleanedRuns& other) const { return model1 == other.model1 && model2 == other.model2; }
};

// The texts of --cleaned-runs joined by "|", for the help: "none|model1|model2|both".
std::string cleanedRunsChoices();

// "none", "model1", "model2" or "both"; nullopt for any other text.
std::optional<CleanedRuns> parseCleanedRuns(const std::string& text);

// The text of the choice, as parseCleanedRuns reads it.
std::string cleanedRunsText(const CleanedRuns& choice);

struct CompareRequest {
    std::string run;       // a 4D NIfTI-1 run (.nii, .nii.gz) or an .fmr
    std::string confounds; // the pipeline's confounds table; its .json sidecar beside it is read when present
    std::optional<std::string> events;
    std::string model1; // confound strategies (ConfoundStrategy.h)
    std::string model2;
    std::string outDir; // made when missing
    std::optional<std::string> mask;
    // The plug-in's threshold; none picks it from the run's mean image
    // (automaticThreshold). Not used with a mask.
    std::optional<float> threshold;
    double fdrQ = 0.05;
    // The run's TR in seconds (--tr): must agree with the run's header or sidecar
    // when either gives one (RunTiming.h); needed with events when neither does.
    std::optional<double> tr;
    bool standardize = true;
    int threads = 1;    // reading and writing .nii.gz
    CleanedRuns cleanedRuns;
    Durability durability = Durability::Complete; // of every file written
    std::string plugin; // the plug-in library; empty for the one beside the program
    std::string name;   // RUN in the outputs' names (ComparisonNames.h); empty for the run's stem
};

struct CompareResult {
    ComparisonSummary summary;
    std::string summaryPath;
};

// Progress lines go to progress, the plug-in's log lines too. Throws
// DocumentError (DesignRefusal for a design that cannot be compared) for
// unusable inputs, SaveError when an output cannot be written, and
// std::runtime_error when the plug-in fails; the output folder then holds
// nothing new.
CompareResult compareRun(const CompareRequest& request, std::ostream& progress);

// True when every name a comparison writes for RUN runName and the two
// strategies has at most limit bytes: RUN is in some of them twice.
bool comparisonNamesFit(const std::string& runName, const std::string& model1, const std::string& model2,
                        std::size_t limit);

} // namespace corvantis
