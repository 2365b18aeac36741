// "Corvantis generate-study FOLDER": a small preprocessed study to try the study command on.
#include <iostream>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/formats/HostErrors.h"
#include "host/research/StudyDataset.h"

namespace corvantis {

namespace {

const char kHelp[] = R"(Usage: Corvantis generate-study [--subjects N] [--runs N] [--size X,Y,Z] [--volumes N]
                                 [--seed N] FOLDER

Writes a generated study as a preprocessing pipeline leaves it:
  FOLDER/rawdata/             a raw BIDS dataset: dataset_description.json and
                              each run's sub-NN/func/..._events.tsv (onset,
                              duration, trial_type: blocks of "visual" and "motor")
  FOLDER/derivatives/         the preprocessed runs, per run in sub-NN/func/:
    ..._space-MNI_desc-preproc_bold.nii.gz   the 4D run (float32, TR 2 s)
    ..._space-MNI_desc-brain_mask.nii.gz     its brain mask
    ..._desc-confounds_timeseries.tsv        the confound table in the scanner's
                              units: trans_*/rot_* (mm, radians), global_signal,
                              csf, white_matter (in the thousands), each with
                              _derivative1 ("n/a" first), _power2 and
                              _derivative1_power2; std_dvars, dvars,
                              framewise_displacement, t_comp_cor_NN,
                              a_comp_cor_NN, cosineNN, and in each run 1
                              non_steady_state_outlier00
    ..._desc-confounds_timeseries.json       the components' sidecar (Method,
                              Mask, VarianceExplained, CumulativeVarianceExplained,
                              Retained)
The voxels carry the motion (and its squares and derivatives), the csf, white
matter and global signals, drift, the events' responses and noise, so confound
models of 6, 24 and 36 parameters differ. Subject 2's run 2 (or the last run)
moves a lot. The same options always give the same files.

Options:
  --subjects N        subjects (default 3)
  --runs N            runs per subject (default 2)
  --size X,Y,Z        voxels (default 20,20,12)
  --volumes N         volumes per run (default 120)
  --seed N            seed of the random numbers (default 1)

Example:
  Corvantis generate-study study
  Corvantis study study/derivatives study/output participant --bids-dir study/rawdata
)";

const std::vector<OptionSpec> kOptions = {
    {"subjects", true}, {"runs", true}, {"size", true}, {"volumes", true}, {"seed", true}};

int32_t wholeNumber(const std::string& text, const std::string& what, int32_t low, int32_t high) {
    const std::optional<int32_t> n = parseInt32(text);
    if (!n || *n < low || *n > high) {
        throw UsageError(what + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                         ", not " + inQuotes(text));
    }
    return *n;
}

int generateStudy(const std::vector<std::string>& args) {
    const CommandLine line = parseCommandLine(args, kOptions);
    if (line.helpRequested) {
        std::cout << kHelp << std::flush;
        return 0;
    }
    if (line.operands.size() != 1) {
        throw UsageError("generate-study takes one FOLDER");
    }
    StudyDatasetShape shape;
    if (const auto n = line.value("subjects")) shape.subjects = wholeNumber(*n, "--subjects", 1, 99);
    if (const auto n = line.value("runs")) shape.runs = wholeNumber(*n, "--runs", 1, 99);
    if (const auto n = line.value("volumes")) shape.volumes = wholeNumber(*n, "--volumes", 20, 4096);
    if (const auto n = line.value("seed")) shape.seed = static_cast<uint32_t>(wholeNumber(*n, "--seed", 1, 1 << 30));
    if (const auto size = line.value("size")) {
        const std::vector<std::string> parts = splitAt(*size, ',');
        if (parts.size() != 3) throw UsageError("--size takes X,Y,Z, not " + inQuotes(*size));
        shape.dimX = wholeNumber(parts[0], "--size X", 4, 512);
        shape.dimY = wholeNumber(parts[1], "--size Y", 4, 512);
        shape.dimZ = wholeNumber(parts[2], "--size Z", 4, 512);
    }
    const StudyDatasetFiles files = writeStudyDataset(line.operands.front(), shape);
    std::cout << "Wrote " << files.boldRuns.size() << " preprocessed runs (" << shape.dimX << " x " << shape.dimY
              << " x " << shape.dimZ << " voxels, " << shape.volumes << " volumes) in " << files.derivatives
              << "\n  and their events in " << files.rawdata << "\n  heavy motion: " << files.heavyMotionRun
              << std::endl;
    return 0;
}

} // namespace

extern const Command kGenerateStudyCommand = {"generate-study", "write a generated preprocessed study (BIDS)", kHelp,
                                              &kOptions, &generateStudy};

} // namespace corvantis
