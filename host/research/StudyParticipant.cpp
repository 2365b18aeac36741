#include "host/research/StudyParticipant.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "host/core/SignalCleanup.h"
#include "host/formats/AtomicFile.h"
#include "host/formats/FileChecksum.h"
#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"
#include "host/research/ComparisonNames.h"
#include "host/research/PipelineSidecar.h"
#include "host/research/PrintableText.h"
#include "host/research/RunComparison.h"
#include "host/research/StudyOutputs.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// 2: the sidecars among the inputs, modification times since the Unix epoch,
// each output's CRC-32, the cleaned runs among the options.
constexpr int kRecordVersion = 2;
// The bytes of a file name on the file systems studies are kept on.
constexpr std::size_t kFileNameLimit = 255;

std::string absolutePath(const std::string& path) {
    return path.empty() ? path : fs::absolute(fs::path(path)).lexically_normal().string();
}

// Size and modification time (nanoseconds since the Unix epoch); -1 and 0 for
// a file that is not there.
Json identityOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {{"file", path}, {"size", -1}, {"modified_ns", 0}};
    const int64_t modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return {{"file", path}, {"size", static_cast<int64_t>(info.st_size)}, {"modified_ns", modified}};
}

// The run's own sidecar: its name with .json in place of .nii.gz or .nii.
std::string runSidecarPath(const std::string& bold) {
    for (const std::string ending : {".nii.gz", ".nii"}) {
        if (bold.size() > ending.size() && bold.compare(bold.size() - ending.size(), ending.size(), ending) == 0)
            return bold.substr(0, bold.size() - ending.size()) + ".json";
    }
    return bold + ".json";
}

// The inputs that decide a run's results, each with what tells a changed file.
// The sidecars are listed whether they are there or not: one that comes or
// goes changes the designs (compcor's components) as an edit of it does.
Json inputIdentities(const StudyRunRequest& request) {
    Json inputs = Json::array();
    const std::string confoundsSidecar = request.confounds.empty() ? "" : sidecarPathOfTable(request.confounds);
    for (const std::string& path : {request.bold, runSidecarPath(request.bold), request.confounds, confoundsSidecar,
                                    request.events, request.mask}) {
        if (!path.empty()) inputs.push_back(identityOf(path));
    }
    return inputs;
}

StudyRunRequest requestFor(const PreprocessedRun& run, const StudyModels& models, const fs::path& work,
                           const StudyWriting& writing = {}) {
    StudyRunRequest request;
    request.bold = absolutePath(run.bold);
    request.confounds = absolutePath(run.confounds);
    request.events = absolutePath(run.events);
    request.mask = models.useMask ? absolutePath(run.mask) : std::string();
    request.model1 = models.model1;
    request.model2 = models.model2;
    request.outputFolder = work.string();
    const std::string stem = runStem(request.bold);
    request.comparisonName = comparisonNamesFit(stem, models.model1, models.model2, kFileNameLimit) ? stem : "run";
    request.cleanedRuns = models.cleanedRuns;
    request.writing = writing;
    return request;
}

Json optionsOf(const StudyRunRequest& request) {
    return {
        {"model1", request.model1}, {"model2", request.model2}, {"cleaned_runs", cleanedRunsText(request.cleanedRuns)}};
}

fs::path runFolder(const PreprocessedRun& run, const std::string& outputRoot) {
    return fs::path(outputRoot) / run.folder;
}

std::string labelOf(const StudyModels& models) { return modelLabel(models.model1, models.model2); }

std::optional<Json> readJson(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    try {
        return Json::parse(readTextFile(path.string()));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void writeJson(const fs::path& path, const Json& json, Durability durability) {
    const std::string text = printableJsonText(json);
    writeFileAtomically(path, text.data(), text.size(), durability);
}

Json outputEntry(const fs::path& folder, const std::string& name) {
    const std::optional<FileChecksum> sum = fileChecksum(folder / name);
    if (!sum) throw SaveError("cannot read back the output " + inQuotes((folder / name).string()));
    return {{"file", name}, {"size", sum->size}, {"crc32", crc32Text(sum->crc32)}};
}

// Every output there with its recorded size and checksum: one that a crash or
// a power loss cut short, emptied or lost is told from the one written.
bool outputsIntact(const Json& record, const fs::path& folder) {
    if (!record.contains("outputs") || !record["outputs"].is_array()) return false;
    for (const Json& output : record["outputs"]) {
        if (!output.is_object()) return false;
        const std::string name = output.value("file", std::string());
        if (name.empty()) return false;
        std::error_code error;
        const auto size = fs::file_size(folder / name, error);
        if (error || static_cast<int64_t>(size) != output.value("size", int64_t{-1})) return false;
        const std::optional<FileChecksum> sum = fileChecksum(folder / name);
        if (!sum || sum->size != static_cast<int64_t>(size) ||
            crc32Text(sum->crc32) != output.value("crc32", std::string()))
            return false;
    }
    return true;
}

bool recordIsCurrent(const Json& record, const StudyRunRequest& request, const fs::path& folder) {
    return record.value("version", 0) == kRecordVersion && record.value("status", std::string()) == "done" &&
           record.value("inputs", Json()) == printableJson(inputIdentities(request)) &&
           record.value("options", Json()) == printableJson(optionsOf(request)) && outputsIntact(record, folder);
}

void removeQuietly(const fs::path& path) {
    std::error_code error;
    fs::remove_all(path, error);
}

// An earlier attempt's files, so that no output of other inputs stays beside a new record.
void removeEarlierOutputs(const PreprocessedRun& run, const std::string& label, const fs::path& folder) {
    for (const StudyOutput& output : studyOutputs()) removeQuietly(folder / studyOutputName(run.id, label, output.key));
    removeQuietly(folder / studyFilesFolderName(run.id, label));
}

// The comparison's summary, by the name compare gives it.
fs::path findSummary(const StudyRunRequest& request, const fs::path& work) {
    const fs::path path = work / summaryFileName(request.comparisonName, request.model1, request.model2);
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        throw DocumentError("the comparison wrote no summary " + inQuotes(path.filename().string()) + " into " +
                            inQuotes(work.string()));
    }
    return path;
}

bool isStudyMapKey(const std::string& key) {
    for (const StudyOutput& output : studyOutputs()) {
        if (key == output.key && key != "summary" && key != "record") return true;
    }
    return false;
}

void moveFile(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::rename(from, to, error);
    if (error) {
        throw SaveError("cannot move " + inQuotes(from.string()) + " to " + inQuotes(to.string()) + ": " +
                        error.message());
    }
}

// Moves the comparison's files from work into the run's folder under the
// study's names, rewrites its summary to name them, and returns the outputs
// with their sizes; the summary's timings are left out, so that the same
// inputs always give the same files.
Json placeOutputs(const PreprocessedRun& run, const StudyRunRequest& request, const std::string& label,
                  const fs::path& work, const fs::path& folder, Durability durability, int64_t& voxels) {
    const fs::path summaryPath = findSummary(request, work);
    Json summary = Json::parse(readTextFile(summaryPath.string()));
    fs::remove(summaryPath);
    voxels = summary.value("voxels_analysed", int64_t{-1});
    std::vector<std::string> names;
    if (summary.contains("maps") && summary["maps"].is_object()) {
        for (auto& [key, map] : summary["maps"].items()) {
            if (!isStudyMapKey(key) || !map.contains("file") || !map["file"].is_string()) continue;
            const fs::path from = work / fs::path(map["file"].get<std::string>()).filename();
            const std::string name = studyOutputName(run.id, label, key);
            moveFile(from, folder / name);
            map["file"] = name;
            names.push_back(name);
        }
    }
    const std::string filesFolder = studyFilesFolderName(run.id, label);
    for (const fs::directory_entry& entry : fs::directory_iterator(work)) {
        fs::create_directories(folder / filesFolder);
        const std::string name = filesFolder + "/" + entry.path().filename().string();
        moveFile(entry.path(), folder / name);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    summary["outputs"] = names;
    summary.erase("timings");
    const std::string summaryName = studyOutputName(run.id, label, "summary");
    writeJson(folder / summaryName, summary, durability);
    names.push_back(summaryName);
    Json outputs = Json::array();
    for (const std::string& name : names) outputs.push_back(outputEntry(folder, name));
    return outputs;
}

} // namespace

std::string runRecordPath(const PreprocessedRun& run, const StudyModels& models, const std::string& outputRoot) {
    return (runFolder(run, outputRoot) / studyOutputName(run.id, labelOf(models), "record")).string();
}

bool isRunCurrent(const PreprocessedRun& run, const StudyModels& models, const std::string& outputRoot) {
    const std::optional<Json> record = readJson(runRecordPath(run, models, outputRoot));
    return record && recordIsCurrent(*record, requestFor(run, models, {}), runFolder(run, outputRoot));
}

std::optional<RunOutcome> recordedOutcome(const PreprocessedRun& run, const StudyModels& models,
                                          const std::string& outputRoot) {
    const std::optional<Json> record = readJson(runRecordPath(run, models, outputRoot));
    if (!record || !record->is_object()) return std::nullopt;
    RunOutcome outcome;
    outcome.runId = run.id;
    if (recordIsCurrent(*record, requestFor(run, models, {}), runFolder(run, outputRoot))) {
        outcome.state = RunOutcome::State::Done;
        outcome.voxels = record->value("voxels_analysed", int64_t{-1});
        return outcome;
    }
    if (record->value("status", std::string()) != "failed") return std::nullopt;
    outcome.state = RunOutcome::State::Failed;
    outcome.error = record->value("error", std::string("no error recorded"));
    return outcome;
}

RunOutcome runStudyParticipant(const PreprocessedRun& run, const StudyModels& models, const std::string& outputRoot,
                               const RunComparison& compare, const StudyWriting& writing) {
    const auto start = std::chrono::steady_clock::now();
    const std::string label = labelOf(models);
    const fs::path folder = runFolder(run, outputRoot);
    const fs::path recordPath = folder / studyOutputName(run.id, label, "record");
    const fs::path work = folder / ("." + run.id + "_model-" + label + ".partial");
    StudyRunRequest request = requestFor(run, models, work, writing);
    RunOutcome outcome;
    outcome.runId = run.id;
    fs::create_directories(folder);
    if (const std::optional<Json> record = readJson(recordPath); record && recordIsCurrent(*record, request, folder)) {
        outcome.state = RunOutcome::State::Skipped;
        outcome.voxels = record->value("voxels_analysed", int64_t{-1});
        return outcome;
    }
    removeQuietly(recordPath);
    // An interrupt takes the work folder with it (SignalCleanup.h).
    const SignalCleanupRegistration cleanup(work);
    removeQuietly(work);
    removeEarlierOutputs(run, label, folder);
    Json record = {{"version", kRecordVersion}, {"run", run.id}, {"status", "done"}};
    try {
        if (request.confounds.empty()) {
            throw DocumentError("no confound table beside " + inQuotes(run.bold) + " (looked for " + run.id +
                                "'s _desc-confounds_timeseries.tsv)");
        }
        fs::create_directories(work);
        compare(request);
        record["outputs"] = placeOutputs(run, request, label, work, folder, writing.durability, outcome.voxels);
        record["voxels_analysed"] = outcome.voxels;
        outcome.state = RunOutcome::State::Done;
    } catch (const std::exception& error) {
        removeEarlierOutputs(run, label, folder);
        record["status"] = "failed";
        record["error"] = error.what();
        outcome.state = RunOutcome::State::Failed;
        outcome.error = error.what();
    }
    removeQuietly(work);
    record["inputs"] = inputIdentities(request);
    record["options"] = optionsOf(request);
    writeJson(recordPath, record, writing.durability);
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

void writeStudyDescription(const std::string& outputRoot, const std::string& derivatives, Durability durability) {
    const Json description = {
        {"Name", "Confound model comparison"},
        {"BIDSVersion", "1.8.0"},
        {"DatasetType", "derivative"},
        {"GeneratedBy",
         Json::array({{{"Name", "Corvantis"},
                       {"Description", "study: two confound models compared on every voxel of each run"}}})},
        {"SourceDatasets", Json::array({{{"URL", "file://" + absolutePath(derivatives)}}})}};
    const fs::path path = fs::path(outputRoot) / kStudyDescriptionFile;
    fs::create_directories(outputRoot);
    if (readJson(path) == std::optional<Json>(description)) return;
    writeJson(path, description, durability);
}

StudyProgress::StudyProgress(std::ostream& out, std::size_t runs, bool terminal)
    : out_(out), runs_(runs), terminal_(terminal) {}

void StudyProgress::begin() {
    if (!terminal_) return;
    drawBar();
    out_ << std::flush;
}

void StudyProgress::finished(const RunOutcome& outcome) {
    ++done_;
    std::ostringstream line;
    line << "Corvantis: " << outcome.runId << ": ";
    switch (outcome.state) {
    case RunOutcome::State::Done:
        line << std::fixed << std::setprecision(1) << outcome.seconds << " s, " << outcome.voxels << " voxels analysed";
        break;
    case RunOutcome::State::Skipped: line << "outputs current, skipped"; break;
    case RunOutcome::State::Failed: line << "FAILED: " << outcome.error; break;
    }
    if (terminal_) out_ << "\r\033[K";
    out_ << line.str() << "\n";
    if (terminal_) drawBar();
    out_ << std::flush;
}

void StudyProgress::drawBar() {
    constexpr std::size_t kWidth = 40;
    const std::size_t filled = runs_ == 0 ? kWidth : done_ * kWidth / runs_;
    out_ << "[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << done_ << "/" << runs_
         << " runs";
}

void StudyProgress::close() {
    if (terminal_) out_ << "\n" << std::flush;
}

} // namespace corvantis
