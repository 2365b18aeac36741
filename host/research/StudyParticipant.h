// The participant level of a study: each selected run compared on its own,
// its outputs moved under the study's names (StudyOutputs.h), then a record
// of the run written last. A run whose record is current (the same inputs,
// sidecars included, by size and modification time, the same model texts and
// options, every output there at its recorded size and CRC-32) is skipped, so
// a study that was stopped resumes where it was, and an output lost or cut
// short since is made again. A run that fails leaves a record with its error
// and never stops the others.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "host/formats/AtomicFile.h"
#include "host/research/RunComparison.h"
#include "host/research/StudyRuns.h"

namespace corvantis {

// What decides a run's results: recorded, and a change redoes the run.
struct StudyModels {
    std::string model1 = "24P";
    std::string model2 = "36P";
    bool useMask = true;                   // the run's brain mask when it has one
    CleanedRuns cleanedRuns{false, false}; // the cleaned runs kept among the outputs
};

// How a run's files are written, which never changes their bytes.
struct StudyWriting {
    int threads = 1; // reading and writing .nii.gz
    Durability durability = Durability::Complete;
};

// What one comparison gets: absolute paths (events and mask empty when none),
// the two strategies, and the folder to write everything into.
struct StudyRunRequest {
    std::string bold, confounds, events, mask;
    std::string model1, model2;
    std::string outputFolder;
    // RUN in the comparison's own file names: the bold file's stem, or "run"
    // where names holding that stem twice would outgrow a file name (the study
    // renames every output but the designs' and cleaned runs' files).
    std::string comparisonName;
    CleanedRuns cleanedRuns{false, false};
    StudyWriting writing;
};

// Compares one run, writing into request.outputFolder the maps and the summary
// that lists them, named as compare names it (summaryFileName in
// ComparisonNames.h). Throws on any failure; the exception's message becomes
// the run's error.
using RunComparison = std::function<void(const StudyRunRequest&)>;

struct RunOutcome {
    enum class State { Done, Skipped, Failed };
    std::string runId;
    State state = State::Failed;
    std::string error;
    double seconds = 0.0;
    int64_t voxels = -1; // analysed, when known
};

// Compares the run unless its record is current. Never throws for a failure
// of the run itself; throws SaveError only when its record cannot be written.
RunOutcome runStudyParticipant(const PreprocessedRun& run, const StudyModels& models, const std::string& outputRoot,
                               const RunComparison& compare, const StudyWriting& writing = {});

// True when the run's record says it is done and is current.
bool isRunCurrent(const PreprocessedRun& run, const StudyModels& models, const std::string& outputRoot);

// What the run's record says: Done when it is current (with its voxels),
// Failed with the recorded error when it holds one; nullopt without a record
// of either (none, unreadable, or done but no longer current).
std::optional<RunOutcome> recordedOutcome(const PreprocessedRun& run, const StudyModels& models,
                                          const std::string& outputRoot);

// The record's path for the run: OUTPUT/FOLDER/RUN_model-LABEL_record.json.
std::string runRecordPath(const PreprocessedRun& run, const StudyModels& models, const std::string& outputRoot);

// OUTPUT/dataset_description.json of a BIDS derivative dataset, unless present
// with the same content. Throws SaveError.
void writeStudyDescription(const std::string& outputRoot, const std::string& derivatives,
                           Durability durability = Durability::Complete);

// One line per run on out ("Corvantis: RUN: 2.1 s, 1234 voxels analysed"),
// and on a terminal a bar of the runs done below them, redrawn after each.
class StudyProgress {
public:
    StudyProgress(std::ostream& out, std::size_t runs, bool terminal);
    // Draws the empty bar on a terminal, before the first run.
    void begin();
    void finished(const RunOutcome& outcome);
    // Ends the bar's line.
    void close();

private:
    void drawBar();
    std::ostream& out_;
    std::size_t runs_;
    std::size_t done_ = 0;
    bool terminal_;
};

} // namespace corvantis
