// "Corvantis study DERIVATIVES OUTPUT participant|group": two confound models
// compared on every run of a preprocessed study, then summarised over the runs.
#include "host/commands/StudyCommand.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

#include <unistd.h>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/core/ExecutablePath.h"
#include "host/formats/AtomicFile.h"
#include "host/formats/HostErrors.h"
#include "host/formats/WorkerThreads.h"
#include "host/research/PrintableText.h"
#include "host/research/StudyComparison.h"
#include "host/research/StudyGroup.h"
#include "host/research/StudyOutputs.h"
#include "host/research/StudyPlacement.h"
#include "host/research/StudyProcesses.h"
#include "host/research/StudyReport.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;

const std::string& studyHelp() {
    static const std::string help =
        std::string(R"(Usage: Corvantis study [--model1 STRATEGY] [--model2 STRATEGY] [--bids-dir RAW]
                       [--participant-label LABEL]... [--task LABEL]... [--space LABEL]...
                       [--run LABEL]... [--run-id RUN] [--no-mask] [--list-runs]
                       [--cleaned-runs none|model1|model2|both] [--jobs N]
                       [--threads N] [--sync] [--keep-going]
                       DERIVATIVES OUTPUT participant|group

Compares two confound models on every run of a preprocessed study, as BIDS apps
are called: DERIVATIVES is a preprocessing pipeline's derivatives folder,
OUTPUT the folder for the results, then the level. OUTPUT is never DERIVATIVES
or the raw dataset, nor inside them (the raw dataset's derivatives/ folder
excepted), and no link in it may lead into them or beside a run's inputs.

The runs are DERIVATIVES/sub-*/[ses-*/]func/*_desc-preproc_bold.nii.gz, each
with the confound table beside it (..._desc-confounds_timeseries.tsv and its
.json), the brain mask of its space (..._desc-brain_mask.nii.gz) when there is
one, and with --bids-dir the raw dataset's ..._events.tsv of the run. A run's
name (RUN below) is its file name before "_desc-preproc_bold.nii.gz", with each
byte that is not UTF-8 or is a control character (a tab) written \xNN: so it
names the run's outputs, record, --list-runs line and group.tsv row. Events
are timed at the run's TR: its header's, or where the header says 0 (unknown)
the "RepetitionTime" of its sidecar ..._desc-preproc_bold.json (the two must
agree); a run with events and no TR known fails, naming both files.

participant  compares each selected run, --jobs of them at once: builds both
             designs from the strategies, checks them and runs the comparison. A
             run that fails is recorded with its error and the others go on; the
             status is then 1 (0 with --keep-going). A run whose record is current
             (same inputs and sidecars by size and time, same model texts and
             options, every output there with its recorded size and CRC-32) is
             skipped, so a stopped study resumes and an output lost or cut short
             since is made again. One line per run as it ends, and a bar on a
             terminal.
group        collects every selected run into OUTPUT/group.tsv and the page
             OUTPUT/report.html (self-contained: the decision, plots across runs,
             one row per run with pictures of its maps, every warning). The
             decision counts the runs whose median tSNR gain over their voxels
             is above 0; a run is an outlier beyond Tukey's fences of the runs.
             The status is 1 when a run failed or has not run (0 with --keep-going).

Outputs, in OUTPUT/sub-XX/[ses-YY/]func/, named RUN_model-LABEL_...
)") + modelLabelHelp() +
        studyOutputsHelp() +
        R"(and OUTPUT/dataset_description.json (a BIDS derivative dataset).

group.tsv has one row per run, "n/a" where a value is missing:
)" + groupTableHelp() +
        R"(
Options:
  --model1 STRATEGY          the smaller model (default 24P); the strategies of make-sdm
  --model2 STRATEGY          the fuller model (default 36P)
  --bids-dir RAW             the raw BIDS dataset, for the runs' events
  --participant-label LABEL  only this subject ("01" or "sub-01"); repeatable
  --task LABEL               only this task; repeatable
  --space LABEL              only this space; repeatable
  --run LABEL                only this run ("1" also takes "01"); repeatable
  --run-id RUN               exactly the run of that name (one job of a workflow)
  --no-mask                  ignore the brain masks; voxels are chosen as compare does
  --list-runs                print one line per selected run and stop (the
                             workflow's list of jobs), tab-separated: its name,
                             its record's path inside OUTPUT, "current" when the
                             record says done and is current, "outdated" when it
                             failed or its inputs, options or outputs changed,
                             "none" without one; then its inputs' absolute paths:
                             run, confound table, its .json, events, mask (empty
                             when there is none or with --no-mask)
  --cleaned-runs WHICH       the runs cleaned of a model's confounds kept in
                             RUN_model-LABEL_files/: none (the default), model1,
                             model2 or both; the maps, summaries and the group's
                             decision are the same whichever
  --jobs N                   compare N runs at once, each in a process of its
                             own (default: the machine's cores)
  --threads N                read and write each run's .nii.gz with N threads
                             (default: the machine's cores shared among the runs
                             at once); the files are the same whatever N
  --sync                     flush every output to disk before it is renamed
                             into place, so that even a power loss cannot lose
                             it; by default each is written whole and checked,
                             then renamed (a killed run never leaves a cut file;
                             after a power loss the record's checksums find a
                             lost output, and the run is done again)
  --keep-going               a failed run leaves status 0: participant records it
                             for the group level, group still lists it; so that a
                             workflow engine goes on and keeps the report

Example:
  Corvantis generate-study study
  Corvantis study study/derivatives study/results participant --bids-dir study/rawdata
  Corvantis study study/derivatives study/results group
  Scale out over the cores or a cluster with the Snakemake workflow in workflow/.
)";
    return help;
}

const std::vector<OptionSpec> kOptions = {
    {"model1", true},   {"model2", true},     {"bids-dir", true},    {"participant-label", true},
    {"task", true},     {"space", true},      {"run", true},         {"run-id", true},
    {"no-mask", false}, {"list-runs", false}, {"keep-going", false}, {"cleaned-runs", true},
    {"jobs", true},     {"threads", true},    {"sync", false}};

// The largest --jobs and --threads: far beyond any machine's gain, and they bound what a typo costs.
constexpr int32_t kMaxCount = 1024;

int countOf(const CommandLine& line, const std::string& name, int fallback) {
    const std::optional<std::string> text = line.value(name);
    if (!text) return fallback;
    const std::optional<int32_t> value = parseInt32(*text);
    if (!value || *value < 1 || *value > kMaxCount) {
        throw UsageError("--" + name + " takes a whole number from 1 to " + std::to_string(kMaxCount) + ", not " +
                         inQuotes(*text));
    }
    return *value;
}

// How the participant level runs: how many at once, with how many threads
// each (0: shared out), and how its files are written.
struct ParticipantSettings {
    int jobs = 1;
    int threads = 0;
    Durability durability = Durability::Complete;
};

// The arguments that make this program compare exactly that run as this one would.
std::vector<std::string> runArguments(const CommandLine& line, const std::string& derivatives,
                                      const std::string& output, const StudyModels& models, const PreprocessedRun& run,
                                      int threads) {
    std::vector<std::string> args = {"study",          derivatives,
                                     output,           "participant",
                                     "--run-id",       run.id,
                                     "--jobs",         "1",
                                     "--threads",      std::to_string(threads),
                                     "--model1",       models.model1,
                                     "--model2",       models.model2,
                                     "--cleaned-runs", cleanedRunsText(models.cleanedRuns)};
    if (const std::optional<std::string> raw = line.value("bids-dir")) {
        args.push_back("--bids-dir");
        args.push_back(*raw);
    }
    for (const char* flag : {"no-mask", "sync"}) {
        if (line.has(flag)) args.push_back(std::string("--") + flag);
    }
    return args;
}

// Every value of a repeatable option, commas also separating values.
std::vector<std::string> listed(const CommandLine& line, const std::string& name) {
    std::vector<std::string> values;
    for (const std::string& value : line.values(name)) {
        for (const std::string& part : splitAt(value, ',')) {
            if (part.empty()) throw UsageError("--" + name + " takes a label, not " + inQuotes(value));
            values.push_back(part);
        }
    }
    return values;
}

int participantLevel(const std::vector<PreprocessedRun>& runs, const StudyModels& models, const std::string& output,
                     const std::string& derivatives, const std::string& raw, bool keepGoing,
                     const ParticipantSettings& settings, const RunComparison& compare,
                     const RunProcesses& processes) {
    // Every run's folder first: a link in OUTPUT into the inputs stops the study
    // before anything is written.
    for (const PreprocessedRun& run : runs) checkRunOutputFolder(run, output, derivatives, raw);
    writeStudyDescription(output, derivatives, settings.durability);
    StudyProgress progress(std::cerr, runs.size(), isatty(fileno(stderr)) != 0);
    std::vector<RunOutcome> failed;
    const auto finished = [&](const RunOutcome& outcome) {
        progress.finished(outcome);
        if (outcome.state == RunOutcome::State::Failed) failed.push_back(outcome);
    };
    progress.begin();
    if (settings.jobs > 1 && runs.size() > 1) {
        runInProcesses(runs, models, output, processes, finished);
    } else {
        StudyWriting writing;
        writing.threads = settings.threads > 0 ? settings.threads : machineThreads();
        writing.durability = settings.durability;
        for (const PreprocessedRun& run : runs) finished(runStudyParticipant(run, models, output, compare, writing));
    }
    progress.close();
    if (failed.empty()) return 0;
    std::cerr << "Corvantis: " << failed.size() << " of " << runs.size() << " runs failed:";
    for (const RunOutcome& f : failed) std::cerr << " " << f.runId;
    std::cerr << std::endl;
    return keepGoing ? 0 : 1;
}

int groupLevel(const std::vector<PreprocessedRun>& runs, const StudyModels& models, const std::string& output,
               bool keepGoing, Durability durability) {
    const StudyGroup group = collectStudyGroup(runs, models, output);
    fs::create_directories(output);
    const std::string table = groupTableText(group);
    writeFileAtomically(fs::path(output) / kGroupTableFile, table.data(), table.size(), durability);
    const std::string report = studyReportHtml(group);
    writeFileAtomically(fs::path(output) / kGroupReportFile, report.data(), report.size(), durability);
    std::cout << studyDecision(group) << "\nWrote " << (fs::path(output) / kGroupTableFile).string() << " and "
              << (fs::path(output) / kGroupReportFile).string() << std::endl;
    const std::size_t notDone = group.runsNotDone();
    if (notDone == 0) return 0;
    std::cerr << "Corvantis: " << notDone << " of " << group.rows.size() << " runs have no results:";
    for (const GroupRow& row : group.rows) {
        if (row.status != "done") std::cerr << " " << row.run.id << " (" << row.status << ")";
    }
    std::cerr << std::endl;
    return keepGoing ? 0 : 1;
}

std::string recordState(const PreprocessedRun& run, const StudyModels& models, const std::string& output) {
    if (isRunCurrent(run, models, output)) return "current";
    std::error_code error;
    return fs::exists(runRecordPath(run, models, output), error) ? "outdated" : "none";
}

std::string absoluteOrEmpty(const std::string& path) {
    return path.empty() ? path : fs::absolute(path).lexically_normal().string();
}

// The workflow's jobs, one run a line; the first two columns came first and stay first.
void listRuns(std::ostream& out, const std::vector<PreprocessedRun>& runs, const StudyModels& models,
              const std::string& output) {
    for (const PreprocessedRun& run : runs) {
        // Cells as in every table the study writes: a row per run, whatever its name holds.
        out << tableCell(run.id) << "\t"
            << tableCell(fs::path(runRecordPath(run, models, output)).lexically_relative(output).generic_string())
            << "\t" << recordState(run, models, output);
        for (const std::string* input :
             {&run.bold, &run.confounds, &run.confoundsSidecar, &run.events, models.useMask ? &run.mask : nullptr}) {
            const std::string path = input ? absoluteOrEmpty(*input) : std::string();
            out << "\t" << (path.empty() ? path : tableCell(path)); // empty: no such input
        }
        out << "\n";
    }
    out << std::flush;
}

int study(const std::vector<std::string>& args) {
    return runStudyCommand(args, studyComparison(), executablePath().string());
}

} // namespace

int runStudyCommand(const std::vector<std::string>& args, const RunComparison& compare, const std::string& program) {
    const CommandLine line = parseCommandLine(args, kOptions);
    if (line.helpRequested) {
        std::cout << studyHelp() << std::flush;
        return 0;
    }
    if (line.operands.size() != 3) throw UsageError("study takes DERIVATIVES OUTPUT and the level");
    const std::string& derivatives = line.operands[0];
    const std::string& output = line.operands[1];
    const std::string& level = line.operands[2];
    if (level != "participant" && level != "group") {
        throw UsageError("the level is participant or group, not " + inQuotes(level));
    }
    const std::string raw = line.value("bids-dir").value_or("");
    try {
        checkStudyOutput(output, derivatives, raw);
    } catch (const DocumentError& e) {
        throw UsageError(e.what());
    }
    StudyModels models;
    models.model1 = line.value("model1").value_or(models.model1);
    models.model2 = line.value("model2").value_or(models.model2);
    models.useMask = !line.has("no-mask");
    if (const std::optional<std::string> cleaned = line.value("cleaned-runs")) {
        const std::optional<CleanedRuns> choice = parseCleanedRuns(*cleaned);
        if (!choice) {
            throw UsageError("--cleaned-runs takes " + cleanedRunsChoices() + ", not " + inQuotes(*cleaned));
        }
        models.cleanedRuns = *choice;
    }
    ParticipantSettings settings;
    settings.jobs = countOf(line, "jobs", machineThreads());
    // Another process would run the program's own comparison, not the one handed in.
    if (program.empty()) settings.jobs = 1;
    settings.threads = countOf(line, "threads", 0);
    settings.durability = line.has("sync") ? Durability::Flushed : Durability::Complete;
    try {
        (void)modelLabel(models.model1, models.model2);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    RunSelection selection;
    selection.participants = listed(line, "participant-label");
    selection.tasks = listed(line, "task");
    selection.spaces = listed(line, "space");
    selection.runs = listed(line, "run");
    selection.runId = line.value("run-id").value_or("");
    const std::vector<PreprocessedRun> runs = findPreprocessedRuns(derivatives, raw, selection);
    if (line.has("list-runs")) {
        listRuns(std::cout, runs, models, output);
        return 0;
    }
    if (level == "participant") {
        RunProcesses processes;
        processes.program = program;
        processes.jobs = settings.jobs;
        processes.threads = settings.threads;
        processes.arguments = [&](const PreprocessedRun& run, int threads) {
            return runArguments(line, derivatives, output, models, run, threads);
        };
        return participantLevel(runs, models, output, derivatives, raw, line.has("keep-going"), settings, compare,
                                processes);
    }
    return groupLevel(runs, models, output, line.has("keep-going"), settings.durability);
}

extern const Command kStudyCommand = {"study", "compare two confound models on every run of a study, then report",
                                      studyHelp().c_str(), &kOptions, &study};

} // namespace corvantis
