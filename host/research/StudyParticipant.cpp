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
#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"
#include "host/research/ComparisonNames.h"
#include "host/research/PrintableText.h"
#include "host/research/RunComparison.h"
#include "host/research/StudyOutputs.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr int kRecordVersion = 1;
// The bytes of a file name on the file systems studies are kept on.
constexpr std::size_t kFileNameLimit = 255;

std::string absolutePath(const std::string& path) {
    return path.empty() ? path : fs::absolute(fs::path(path)).lexically_normal().string();
}

// The inputs that decide a run's results, each with what tells a changed file.
Json inputIdentities(const StudyRunRequest& request) {
    Json inputs = Json::array();
    for (const std::string& path : {request.bold, request.confounds, request.events, request.mask}) {
        if (path.empty()) continue;
        std::error_code error;
        const auto size = fs::file_size(path, error);
        const auto time = fs::last_write_time(path, error);
        inputs.push_back(
            {{"file", path},
             {"size", error ? -1 : static_cast<int64_t>(size)},
             {"modified_ns",
              error ? 0 : std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count()}});
    }
    return inputs;
}

StudyRunRequest requestFor(const PreprocessedRun& run, const StudyModels& models, const fs::path& work) {
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
    return request;
}

Json optionsOf(const StudyRunRequest& request) { return {{"model1", request.model1}, {"model2", request.model2}}; }

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

void writeJson(const fs::path& path, const Json& json) {
    const std::string text = printableJsonText(json);
    writeFileAtomically(path, text.data(), text.size());
}

bool outputsPresent(const Json& record, const fs::path& folder) {
    if (!record.contains("outputs") || !record["outputs"].is_array()) return false;
    for (const Json& output : record["outputs"]) {
        std::error_code error;
        const fs::path file = folder / output.value("file", std::string());
        const auto size = fs::file_size(file, error);
        if (error || static_cast<int64_t>(size) != output.value("size", int64_t{-1})) return false;
    }
    return true;
}

bool recordIsCurrent(const Json& record, const StudyRunRequest& request, const fs::path& folder) {
    return record.value("version", 0) == kRecordVersion && record.value("status", std::string()) == "done" &&
           record.value("inputs", Json()) == printableJson(inputIdentities(request)) &&
           record.value("options", Json()) == printableJson(optionsOf(request)) && outputsPresent(record, folder);
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
                  const fs::path& work, const fs::path& folder, int64_t& voxels) {
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
    writeJson(folder / summaryName, summary);
    names.push_back(summaryName);
    Json outputs = Json::array();
    for (const std::string& name : names) {
        outputs.push_back({{"file", name}, {"size", static_cast<int64_t>(fs::file_size(folder / name))}});
    }
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

RunOutcome runStudyParticipant(const PreprocessedRun& run, const StudyModels& models, const std::string& outputRoot,
                               const RunComparison& compare) {
    const auto start = std::chrono::steady_clock::now();
    const std::string label = labelOf(models);
    const fs::path folder = runFolder(run, outputRoot);
    const fs::path recordPath = folder / studyOutputName(run.id, label, "record");
    const fs::path work = folder / ("." + run.id + "_model-" + label + ".partial");
    StudyRunRequest request = requestFor(run, models, work);
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
        record["outputs"] = placeOutputs(run, request, label, work, folder, outcome.voxels);
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
    writeJson(recordPath, record);
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

void writeStudyDescription(const std::string& outputRoot, const std::string& derivatives) {
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
    writeJson(path, description);
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
